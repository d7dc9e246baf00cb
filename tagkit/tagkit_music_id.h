// Placeholder until the value class is written: an empty polymorphic shell.
#ifndef TAGKIT_TAGKIT_TAGKIT_MUSIC_ID_H_
#define TAGKIT_TAGKIT_TAGKIT_MUSIC_ID_H_

#include "tagkit.h"

class TLX_API CTagkit::CMusicId {
 public:
  CMusicId() {}
  virtual ~CMusicId() {}
};

#endif  // TAGKIT_TAGKIT_TAGKIT_MUSIC_ID_H_
