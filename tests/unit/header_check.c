/* The public header must stay plain C: this translation unit fails to build otherwise. */
#include "tevrolink/tevrolink.h"

_Static_assert(sizeof(DeviceEntry) == 66, "a device entry is 66 bytes on the wire");
_Static_assert(sizeof(LinkFrameRecord) == TEVROLINK_FRAME_SIZE, "frame record size");

int tevrolink_header_check(void) { return IsShellActive(); }
