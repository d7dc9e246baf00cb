// Placeholder until the date conversions are written.
#ifndef TAGKIT_TAGKIT_XDATE_H_
#define TAGKIT_TAGKIT_XDATE_H_

#include "tagkit.h"

class TLX_API CXDate {
 public:
  virtual ~CXDate() {}
};

#endif  // TAGKIT_TAGKIT_XDATE_H_
