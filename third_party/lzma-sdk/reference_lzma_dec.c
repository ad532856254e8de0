/* The LZMA SDK's decoder exactly as Debian's lzma-dev ships it, with its functions renamed, so that
   it links beside the project's patched copy (see reference_lzma_dec.h). */
#define LzmaDec_InitDicAndState reference_LzmaDec_InitDicAndState
#define LzmaDec_Init reference_LzmaDec_Init
#define LzmaDec_DecodeToDic reference_LzmaDec_DecodeToDic
#define LzmaDec_DecodeToBuf reference_LzmaDec_DecodeToBuf
#define LzmaDec_FreeProbs reference_LzmaDec_FreeProbs
#define LzmaDec_Free reference_LzmaDec_Free
#define LzmaProps_Decode reference_LzmaProps_Decode
#define LzmaDec_AllocateProbs reference_LzmaDec_AllocateProbs
#define LzmaDec_Allocate reference_LzmaDec_Allocate
#define LzmaDecode reference_LzmaDecode

#include <LzmaDec.c>
