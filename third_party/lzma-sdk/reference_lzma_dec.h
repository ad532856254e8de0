// The LZMA SDK's decoder as Debian ships it, unpatched, under the names reference_LzmaDec_*: the
// yardstick for the patched decoder the project builds (tests and fuzzer only).
#pragma once

#include <lzma-sdk/LzmaDec.h>

#ifdef __cplusplus
extern "C" {
#endif

SRes reference_LzmaDec_Allocate(CLzmaDec* p, const Byte* props, unsigned propsSize, ISzAlloc* alloc);
void reference_LzmaDec_Init(CLzmaDec* p);
SRes reference_LzmaDec_DecodeToDic(CLzmaDec* p, SizeT dicLimit, const Byte* src, SizeT* srcLen,
                                   ELzmaFinishMode finishMode, ELzmaStatus* status);
void reference_LzmaDec_Free(CLzmaDec* p, ISzAlloc* alloc);

#ifdef __cplusplus
}
#endif
