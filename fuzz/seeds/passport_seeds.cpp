// Writes the seed corpus of the passport_detection fuzz target: the
// hexadecimal form of each given passport stream (X.bin gives X.hex), and
// application passports and damaged hexadecimal texts.
//   passport_seeds <directory> <stream.bin>...
// The output is deterministic; CI compares it with fuzz/corpus/passport_detection.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/utf.h"
#include "mox/context/passport_hex.h"

namespace {

void write(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  if (!out.flush()) {
    std::fprintf(stderr, "passport_seeds: cannot write %s\n", path.c_str());
    std::exit(1);
  }
}

std::string hexOfFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.eof() && in.fail()) {
    std::fprintf(stderr, "passport_seeds: cannot read %s\n", path.c_str());
    std::exit(1);
  }
  return utf16ToUtf8Lenient(BytesToHex(bytes.data(), bytes.size()));
}

std::string baseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1);
  return name.substr(0, name.rfind('.'));
}

// A host string given as UTF-16LE, marked by its byte order mark.
std::string utf16Seed(const std::u16string& text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t c : text) bytes += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: passport_seeds <directory> <stream.bin>...\n");
    return 2;
  }
  const std::string dir = argv[1];
  std::string v3;
  for (int i = 2; i < argc; ++i) {
    const std::string hex = hexOfFile(argv[i]);
    write(dir + "/" + baseName(argv[i]) + ".hex", hex);
    if (baseName(argv[i]) == "v3") v3 = hex;
  }
  write(dir + "/app_traced.txt", "ABC*1000");
  write(dir + "/app_untraced.txt", "ABC*5");
  write(dir + "/app_no_star.txt", "NOSTAR");
  write(dir + "/app_no_guid.txt", "*1600");
  write(dir + "/app_signed_blanks.txt", "guid* \t-12x*7");
  write(dir + "/app_huge_flag.txt", "ABC*99999999999999999999");
  write(dir + "/app_utf16.txt", utf16Seed(u"\u00C4\U0001F600\xD800*2000"));
  write(dir + "/marker_only.txt", "2A54482A");
  if (!v3.empty()) {
    std::string lower = v3;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    write(dir + "/v3_lower.txt", lower);
    std::string lowerInside = v3;
    lowerInside[21] = 'a';
    write(dir + "/v3_lower_inside.txt", lowerInside);
    write(dir + "/v3_odd.txt", v3.substr(0, 8) + "0" + v3.substr(8));
    write(dir + "/v3_cut.txt", v3.substr(0, 200) + "2A54482A");
  }
  return 0;
}
