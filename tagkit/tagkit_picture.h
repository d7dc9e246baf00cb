// Placeholder until the value class is written: an empty polymorphic shell.
#ifndef TAGKIT_TAGKIT_TAGKIT_PICTURE_H_
#define TAGKIT_TAGKIT_TAGKIT_PICTURE_H_

#include "tagkit.h"

class TLX_API CTagkit::CPicture {
 public:
  CPicture() {}
  virtual ~CPicture() {}
};

#endif  // TAGKIT_TAGKIT_TAGKIT_PICTURE_H_
