#include "bench_cases.h"

std::vector<std::string> roundRobinMethods() {
  std::vector<std::string> methods;
  for (int i = 0; i < kRoundRobinKeys; ++i) {
    methods.push_back("m" + std::string(1, static_cast<char>('0' + i / 10)) + static_cast<char>('0' + i % 10));
  }
  return methods;
}

std::vector<std::u16string> roundRobinMethods16() {
  std::vector<std::u16string> methods;
  for (const std::string& m : roundRobinMethods()) methods.emplace_back(m.begin(), m.end());
  return methods;
}
