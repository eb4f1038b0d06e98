// A realistic library stream and helpers shared by the collector tests.
#pragma once

#include <string>
#include <vector>

#include "element.h"
#include "stream_splitter.h"

namespace collecttest {

// Every kind of line the library sends, in the order one start produces
// them, including escaped and non-ASCII text.
inline std::string sampleStream(const std::string& process = "disp_3") {
  const std::string p = "VEL_MOX|" + process;
  return "<metric type=\"StringEvent\" name=\"" + p +
         ":MOX library version\" value=\"2.3.6\" />\n"
         "<metric type=\"IntAverage\" name=\"" +
         p +
         "|Order|create:Active Counter\" value=\"2\" />\n"
         "<metric type=\"IntAverage\" name=\"" +
         p +
         "|Order|create:Finished Counter\" value=\"14\" />\n"
         "<metric type=\"IntAverage\" name=\"" +
         p +
         "|Order|create:Finished with undefined state\" value=\"1\" />\n"
         "<metric type=\"IntAverage\" name=\"" +
         p +
         "|Order|create:Avg. Elapsed Time(ms)\" value=\"37\" max=\"120\" min=\"3\" count=\"13\" />\n"
         "<metric type=\"IntAverage\" name=\"" +
         p +
         "|blue|Db|select:Avg. CPU Time(us)\" value=\"-1\" max=\"-1\" min=\"-1\" count=\"13\" />\n"
         "<metric type=\"LongCounter\" name=\"" +
         p +
         "|Open Requests:Current Value\" value=\"9\" max=\"9\" min=\"8\" count=\"1\" />\n"
         "<metric type=\"LongCounter\" name=\"" +
         p +
         "|Open Requests:waits\" value=\"4\" count=\"1\" />\n"
         "<metric type=\"LongCounterNone\" name=\"" +
         p +
         "|Zombie Context Count:Current Value\" value=\"0\" />\n"
         "<event resource=\"Order|create\" startTime=\"2024-03-01 10:15:02\" duration=\"57\">"
         "<calledComponent resource=\"Db|select\" offset=\"4\" duration=\"40\">"
         "<calledComponent resource=\"Db|fetch\" offset=\"10\" duration=\"20\"><param name=\"CPU Time (us)\" "
         "value=\"-1\" /></calledComponent>"
         "<param name=\"CPU Time (us)\" value=\"1500\" /><param name=\"sql\" value=\"a &lt; b &amp;&amp; c &gt; "
         "&quot;d&quot;&#10;next\" />"
         "</calledComponent>"
         "<param name=\"CPU Time (us)\" value=\"2500\" /><param name=\"user\" value=\"Z\xC3\xBCrich "
         "\xE6\x97\xA5\xE6\x9C\xAC\" />"
         "<param name=\"client.header.VEL-PASSPORT\" value=\"0123ABCD*1000\" /><param name=\"Method Call Error\" "
         "value=\"one\" />"
         "<param name=\"Method Call Error\" value=\"two\" /></event>\n";
}

// What a splitter hands over, flattened to text so that runs can be compared.
inline std::string describe(const moxcollect::Element& e) {
  std::string out = "<" + e.name;
  for (const auto& [name, value] : e.attributes) out += " " + name + "=[" + value + "]";
  out += ">";
  for (const auto& child : e.children) out += describe(child);
  return out + "</" + e.name + ">";
}

struct Split {
  std::vector<std::string> elements;  // describe() of each element
  std::vector<std::string> raws;
  std::vector<std::string> errors;
  bool unfinished = false;
};

// Feeds the chunks to one splitter and collects what it hands over.
inline Split splitChunks(const std::vector<std::string>& chunks, size_t maxElementBytes = 1u << 20) {
  Split out;
  moxcollect::StreamSplitter splitter(
      [&](moxcollect::Element&& e, std::string&& raw) {
        out.elements.push_back(describe(e));
        out.raws.push_back(raw);
      },
      [&](const std::string& message, const std::string&) { out.errors.push_back(message); }, maxElementBytes);
  for (const auto& chunk : chunks) splitter.feed(chunk);
  out.unfinished = splitter.finish();
  return out;
}

}  // namespace collecttest
