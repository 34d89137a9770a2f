// Entry points kept for older hosts: each returns its fixed value at once,
// touches no state and removes exactly its argument bytes.  Nine entry
// points serve the 24 names; the DLL's export table aliases them, the native
// library gives each name its own alias.
#include "include/hyl.h"

extern "C" {

void HYL_CALL FixedNoop(void) {}
int HYL_CALL FixedZero0(void) { return 0; }
int HYL_CALL FixedZero4(int) { return 0; }
int HYL_CALL FixedZero8(int, int) { return 0; }
int HYL_CALL FixedZero12(int, int, int) { return 0; }
int HYL_CALL FixedMinus32000(int, int) { return -32000; }
int HYL_CALL FixedTenThousand(int) { return 10000; }
double HYL_CALL FixedDoubleZero8(int, int) { return 0.0; }
double HYL_CALL FixedDoubleZero16(int, int, int, int) { return 0.0; }

#if !defined(_WIN32)
#define HYL_ALIAS(name, target, ret, args) \
    HYL_API ret name args __attribute__((alias(#target)));
HYL_ALIAS(FillBufCodVdr, FixedNoop, void, (void))
HYL_ALIAS(Hyl_GPRST_FreeRsource, FixedNoop, void, (void))
HYL_ALIAS(Freew1w2w3DbfFile, FixedZero0, int, (void))
HYL_ALIAS(Readw1w2w3DbfFile, FixedZero0, int, (void))
HYL_ALIAS(w1TestReaded, FixedZero0, int, (void))
HYL_ALIAS(w2TestReaded, FixedZero0, int, (void))
HYL_ALIAS(w3TestReaded, FixedZero0, int, (void))
HYL_ALIAS(GetTextVdr14, FixedZero4, int, (int))
HYL_ALIAS(GetTextVdr2, FixedZero4, int, (int))
HYL_ALIAS(w1GetTimePrst, FixedZero4, int, (int))
HYL_ALIAS(w1GetTypeField, FixedZero4, int, (int))
HYL_ALIAS(w1GetField, FixedZero8, int, (int, int))
HYL_ALIAS(w1GetFieldByNum, FixedZero8, int, (int, int))
HYL_ALIAS(w1GetRekvByNum, FixedZero8, int, (int, int))
HYL_ALIAS(w1GetHylNumber, FixedZero8, int, (int, int))
HYL_ALIAS(w1GetRekvisit, FixedZero12, int, (int, int, int))
HYL_ALIAS(w1GetNextHylNumerByType, FixedMinus32000, int, (int, int))
HYL_ALIAS(w1GetHylNumberByCom, FixedTenThousand, int, (int))
HYL_ALIAS(w2GetRekvisit, FixedDoubleZero8, double, (int, int))
HYL_ALIAS(w3GetRekvisit, FixedDoubleZero8, double, (int, int))
HYL_ALIAS(Hyl_GetPrst, FixedDoubleZero16, double, (int, int, int, int))
#endif

}  // extern "C"
