// Network byte order through the platform's own conversions (ws2_32).
#include "win32_api.h"

#include <winsock2.h>

#include "tlx_system.h"

extern "C" {
uint32_t tlx_htonl(uint32_t value) { return htonl(value); }
uint16_t tlx_htons(uint16_t value) { return htons(value); }
uint32_t tlx_ntohl(uint32_t value) { return ntohl(value); }
uint16_t tlx_ntohs(uint16_t value) { return ntohs(value); }
}
