#ifndef K5_MKVIEW_EXPORTS_K5_MKVIEW_H_
#define K5_MKVIEW_EXPORTS_K5_MKVIEW_H_

// The twelve functions the terminal calls. Texts are NUL-terminated UTF-16; `err`, `time` and
// `instrument` are caller-owned buffers whose content length on entry is their capacity. No
// failure leaves a call: it becomes a text in err and, where there is a result, -1.

#if defined(_WIN32)
#define K5_CALL __stdcall
#define K5_EXPORT
#else
#define K5_CALL
#define K5_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {

K5_EXPORT void K5_CALL OrderBook_Free(int refnum, char16_t* err);
K5_EXPORT void K5_CALL PositionBook_Free(int refnum, char16_t* err);
K5_EXPORT void K5_CALL InitCreds(const char16_t* server, double open, int magic, int exp,
                                 char16_t* err);
K5_EXPORT void K5_CALL InitTimeZoneInfo(int gmtServerOffset, char16_t* err);
K5_EXPORT int K5_CALL OrderBook(const char16_t* instrument, int mt4Time, char16_t* err);
K5_EXPORT int K5_CALL PositionBook(const char16_t* instrument, int mt4Time, char16_t* err);
K5_EXPORT int K5_CALL OrderBook_Sz(int refnum, char16_t* err);
K5_EXPORT int K5_CALL PositionBook_Sz(int refnum, char16_t* err);
K5_EXPORT void K5_CALL OrderBook_BookData(int refnum, double* shortCounts, double* longCounts,
                                          double* prices, int arrSz, char16_t* err);
K5_EXPORT void K5_CALL PositionBook_BookData(int refnum, double* shortCounts, double* longCounts,
                                             double* prices, int arrSz, char16_t* err);
K5_EXPORT void K5_CALL OrderBook_MetaData(int refnum, double* bucketWidth, double* price, int arrSz,
                                          char16_t* time, char16_t* instrument, char16_t* err);
K5_EXPORT void K5_CALL PositionBook_MetaData(int refnum, double* bucketWidth, double* price,
                                             int arrSz, char16_t* time, char16_t* instrument,
                                             char16_t* err);

}  // extern "C"

#endif  // K5_MKVIEW_EXPORTS_K5_MKVIEW_H_
