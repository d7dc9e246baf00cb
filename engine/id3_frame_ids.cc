// Frame identifiers across tag versions: ID3v2.2 names its frames with three
// characters, ID3v2.3 and ID3v2.4 with four.
#include "tlx_id3.h"

namespace {

#define FID TLX_ID3_FRAME_ID

struct IdPair {
  uint32_t v22;
  uint32_t v23;
};

// Every ID3v2.2 frame with an ID3v2.3 counterpart, and the sort-order
// frames that later writers added to ID3v2.2 tags.
const IdPair kIdPairs[] = {
    {FID('B', 'U', 'F', 0), FID('R', 'B', 'U', 'F')}, {FID('C', 'N', 'T', 0), FID('P', 'C', 'N', 'T')},
    {FID('C', 'O', 'M', 0), FID('C', 'O', 'M', 'M')}, {FID('C', 'R', 'A', 0), FID('A', 'E', 'N', 'C')},
    {FID('E', 'T', 'C', 0), FID('E', 'T', 'C', 'O')}, {FID('E', 'Q', 'U', 0), FID('E', 'Q', 'U', 'A')},
    {FID('G', 'E', 'O', 0), FID('G', 'E', 'O', 'B')}, {FID('I', 'P', 'L', 0), FID('I', 'P', 'L', 'S')},
    {FID('L', 'N', 'K', 0), FID('L', 'I', 'N', 'K')}, {FID('M', 'C', 'I', 0), FID('M', 'C', 'D', 'I')},
    {FID('M', 'L', 'L', 0), FID('M', 'L', 'L', 'T')}, {FID('P', 'I', 'C', 0), FID('A', 'P', 'I', 'C')},
    {FID('P', 'O', 'P', 0), FID('P', 'O', 'P', 'M')}, {FID('R', 'E', 'V', 0), FID('R', 'V', 'R', 'B')},
    {FID('R', 'V', 'A', 0), FID('R', 'V', 'A', 'D')}, {FID('S', 'L', 'T', 0), FID('S', 'Y', 'L', 'T')},
    {FID('S', 'T', 'C', 0), FID('S', 'Y', 'T', 'C')}, {FID('T', 'A', 'L', 0), FID('T', 'A', 'L', 'B')},
    {FID('T', 'B', 'P', 0), FID('T', 'B', 'P', 'M')}, {FID('T', 'C', 'M', 0), FID('T', 'C', 'O', 'M')},
    {FID('T', 'C', 'O', 0), FID('T', 'C', 'O', 'N')}, {FID('T', 'C', 'P', 0), FID('T', 'C', 'M', 'P')},
    {FID('T', 'C', 'R', 0), FID('T', 'C', 'O', 'P')}, {FID('T', 'D', 'A', 0), FID('T', 'D', 'A', 'T')},
    {FID('T', 'D', 'Y', 0), FID('T', 'D', 'L', 'Y')}, {FID('T', 'E', 'N', 0), FID('T', 'E', 'N', 'C')},
    {FID('T', 'F', 'T', 0), FID('T', 'F', 'L', 'T')}, {FID('T', 'I', 'M', 0), FID('T', 'I', 'M', 'E')},
    {FID('T', 'K', 'E', 0), FID('T', 'K', 'E', 'Y')}, {FID('T', 'L', 'A', 0), FID('T', 'L', 'A', 'N')},
    {FID('T', 'L', 'E', 0), FID('T', 'L', 'E', 'N')}, {FID('T', 'M', 'T', 0), FID('T', 'M', 'E', 'D')},
    {FID('T', 'O', 'A', 0), FID('T', 'O', 'P', 'E')}, {FID('T', 'O', 'F', 0), FID('T', 'O', 'F', 'N')},
    {FID('T', 'O', 'L', 0), FID('T', 'O', 'L', 'Y')}, {FID('T', 'O', 'R', 0), FID('T', 'O', 'R', 'Y')},
    {FID('T', 'O', 'T', 0), FID('T', 'O', 'A', 'L')}, {FID('T', 'P', '1', 0), FID('T', 'P', 'E', '1')},
    {FID('T', 'P', '2', 0), FID('T', 'P', 'E', '2')}, {FID('T', 'P', '3', 0), FID('T', 'P', 'E', '3')},
    {FID('T', 'P', '4', 0), FID('T', 'P', 'E', '4')}, {FID('T', 'P', 'A', 0), FID('T', 'P', 'O', 'S')},
    {FID('T', 'P', 'B', 0), FID('T', 'P', 'U', 'B')}, {FID('T', 'R', 'C', 0), FID('T', 'S', 'R', 'C')},
    {FID('T', 'R', 'D', 0), FID('T', 'R', 'D', 'A')}, {FID('T', 'R', 'K', 0), FID('T', 'R', 'C', 'K')},
    {FID('T', 'S', '2', 0), FID('T', 'S', 'O', '2')}, {FID('T', 'S', 'A', 0), FID('T', 'S', 'O', 'A')},
    {FID('T', 'S', 'C', 0), FID('T', 'S', 'O', 'C')}, {FID('T', 'S', 'I', 0), FID('T', 'S', 'I', 'Z')},
    {FID('T', 'S', 'P', 0), FID('T', 'S', 'O', 'P')}, {FID('T', 'S', 'S', 0), FID('T', 'S', 'S', 'E')},
    {FID('T', 'S', 'T', 0), FID('T', 'S', 'O', 'T')}, {FID('T', 'T', '1', 0), FID('T', 'I', 'T', '1')},
    {FID('T', 'T', '2', 0), FID('T', 'I', 'T', '2')}, {FID('T', 'T', '3', 0), FID('T', 'I', 'T', '3')},
    {FID('T', 'X', 'T', 0), FID('T', 'E', 'X', 'T')}, {FID('T', 'X', 'X', 0), FID('T', 'X', 'X', 'X')},
    {FID('T', 'Y', 'E', 0), FID('T', 'Y', 'E', 'R')}, {FID('U', 'F', 'I', 0), FID('U', 'F', 'I', 'D')},
    {FID('U', 'L', 'T', 0), FID('U', 'S', 'L', 'T')}, {FID('W', 'A', 'F', 0), FID('W', 'O', 'A', 'F')},
    {FID('W', 'A', 'R', 0), FID('W', 'O', 'A', 'R')}, {FID('W', 'A', 'S', 0), FID('W', 'O', 'A', 'S')},
    {FID('W', 'C', 'M', 0), FID('W', 'C', 'O', 'M')}, {FID('W', 'C', 'P', 0), FID('W', 'C', 'O', 'P')},
    {FID('W', 'P', 'B', 0), FID('W', 'P', 'U', 'B')}, {FID('W', 'X', 'X', 0), FID('W', 'X', 'X', 'X')},
};

#undef FID

bool IdCharacter(uint32_t c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

// 1: three characters, 2: four, 0: not an identifier.
int IdShape(uint32_t id) {
  for (int shift = 24; shift >= 8; shift -= 8) {
    if (!IdCharacter((id >> shift) & 0xFF)) return 0;
  }
  if ((id & 0xFF) == 0) return 1;
  return IdCharacter(id & 0xFF) ? 2 : 0;
}

}  // namespace

extern "C" {

int32_t tlx_id3_frame_id_for_version(uint32_t id, int32_t version, uint32_t* mapped) {
  if (mapped == nullptr) return TLX_ID3_E_PARAM;
  *mapped = 0;
  const int shape = IdShape(id);
  if (shape == 0) return TLX_ID3_E_PARAM;
  if (version != TLX_ID3_V22 && version != TLX_ID3_V23 && version != TLX_ID3_V24) {
    return TLX_ID3_E_PARAM;
  }
  const bool want_short = version == TLX_ID3_V22;
  if ((shape == 1) == want_short) {
    *mapped = id;
    return TLX_ID3_OK;
  }
  for (const IdPair& pair : kIdPairs) {
    if ((shape == 1 ? pair.v22 : pair.v23) != id) continue;
    *mapped = want_short ? pair.v22 : pair.v23;
    return TLX_ID3_OK;
  }
  return TLX_ID3_E_UNSUPPORTED;
}

}  // extern "C"
