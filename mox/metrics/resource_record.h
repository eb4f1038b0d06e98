// CResourceRecord: the values of one named resource in a cache section.
// Resources arrive with a later change; until then sections hold none.
#pragma once

class CResourceRecord {
 public:
  virtual ~CResourceRecord() = default;
};
