// Resource identifiers shared by the resource script and the code.
#pragma once

#define QZ_IDI_CARD 101  // the reader window's icon (32x32 and 16x16, 16 colours)
