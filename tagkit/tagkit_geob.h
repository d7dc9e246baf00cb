// Placeholder until the value class is written: an empty polymorphic shell.
#ifndef TAGKIT_TAGKIT_TAGKIT_GEOB_H_
#define TAGKIT_TAGKIT_TAGKIT_GEOB_H_

#include "tagkit.h"

class TLX_API CTagkit::CGeob {
 public:
  CGeob() {}
  virtual ~CGeob() {}
};

#endif  // TAGKIT_TAGKIT_TAGKIT_GEOB_H_
