// A realistic library stream and a splitter run flattened to text, shared by the collector tests.
#pragma once

#include <string>
#include <vector>

#include "element.h"
#include "stream_splitter.h"

namespace collecttest {

// Every kind of line one start of the library sends, escaped and non-ASCII text included; '@' stands
// for the system and process part of the metric names.
inline std::string sampleStream(const std::string& process = "disp_3") {
  std::string text = R"X(<metric type="StringEvent" name="@:MOX library version" value="2.3.6" />
<metric type="IntAverage" name="@|Order|create:Active Counter" value="2" />
<metric type="IntAverage" name="@|Order|create:Finished Counter" value="14" />
<metric type="IntAverage" name="@|Order|create:Finished with undefined state" value="1" />
<metric type="IntAverage" name="@|Order|create:Avg. Elapsed Time(ms)" value="37" max="120" min="3" count="13" />
<metric type="IntAverage" name="@|blue|Db|select:Avg. CPU Time(us)" value="-1" max="-1" min="-1" count="13" />
<metric type="LongCounter" name="@|Open Requests:Current Value" value="9" max="9" min="8" count="1" />
<metric type="LongCounter" name="@|Open Requests:waits" value="4" count="1" />
<metric type="LongCounterNone" name="@|Zombie Context Count:Current Value" value="0" />
<event resource="Order|create" startTime="2024-03-01 10:15:02" duration="57">)X"
                     R"X(<calledComponent resource="Db|select" offset="4" duration="40">)X"
                     R"X(<calledComponent resource="Db|fetch" offset="10" duration="20">)X"
                     R"X(<param name="CPU Time (us)" value="-1" /></calledComponent>)X"
                     R"X(<param name="CPU Time (us)" value="1500" />)X"
                     R"X(<param name="sql" value="a &lt; b &amp;&amp; c &gt; &quot;d&quot;&#10;next" />)X"
                     R"X(</calledComponent><param name="CPU Time (us)" value="2500" />)X"
                     "<param name=\"user\" value=\"Z\xC3\xBCrich \xE6\x97\xA5\xE6\x9C\xAC\" />"
                     R"X(<param name="client.header.VEL-PASSPORT" value="0123ABCD*1000" />)X"
                     R"X(<param name="Method Call Error" value="one" /><param name="Method Call Error" value="two" />)X"
                     "</event>\n";
  const std::string names = "VEL_MOX|" + process;
  for (size_t at = text.find('@'); at != std::string::npos; at = text.find('@', at + names.size())) {
    text.replace(at, 1, names);
  }
  return text;
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
  size_t errors = 0;
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
      [&](const std::string&, const std::string&) { ++out.errors; }, maxElementBytes);
  for (const auto& chunk : chunks) splitter.feed(chunk);
  out.unfinished = splitter.finish();
  return out;
}

}  // namespace collecttest
