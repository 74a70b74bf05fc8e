// The export table: each export is the call guard around one call into the core.

#include "exports/k5_mkview.h"

#include <string>

#include "access/credentials.h"
#include "books/book_request.h"
#include "common/failure.h"
#include "common/utf.h"
#include "exports/book_queries.h"
#include "exports/call_guard.h"
#include "servertime/time_util.h"
#include "store/cache.h"

namespace k5_mkview {
namespace {

// A text argument as UTF-8; a null pointer is the caller's fault, reported rather than followed.
std::string ArgText(const char16_t* text, const char* name) {
  if (text == nullptr) throw Failure(std::string(name) + " is a null pointer");
  return Utf16ToUtf8(text, name);
}

}  // namespace

// Holds the exports' work; the exports themselves are the plain C functions below.
class K5MkView {
 public:
  // `open` by reference from the caller's argument down to the code assembly: on 32-bit x86 a
  // copy through the x87 unit turns a signalling NaN quiet, which would change the code.
  static void InitCreds(const std::string& server, const double& open, int magic, int exp) {
    Credentials::InitCreds(server, open, magic, exp);
  }
  static void InitTimeZoneInfo(int gmtServerOffset) { TimeUtil::InitTimeZoneInfo(gmtServerOffset); }
  static int OrderBook(const std::string& instrument, int mt4Time, ErrText& err) {
    return BookRequests::OrderBook(instrument, mt4Time, err);
  }
  static int PositionBook(const std::string& instrument, int mt4Time, ErrText& err) {
    return BookRequests::PositionBook(instrument, mt4Time, err);
  }
};

}  // namespace k5_mkview

using k5_mkview::ArgText;
using k5_mkview::BookQueries;
using k5_mkview::Cache;
using k5_mkview::ErrText;
using k5_mkview::IntWrapper;
using k5_mkview::K5MkView;
using k5_mkview::VoidWrapper;

extern "C" {

void K5_CALL OrderBook_Free(int refnum, char16_t* err) {
  VoidWrapper([&] { Cache::freeOrderBook(refnum); }, err);
}

void K5_CALL PositionBook_Free(int refnum, char16_t* err) {
  VoidWrapper([&] { Cache::freePositionBook(refnum); }, err);
}

void K5_CALL InitCreds(const char16_t* server, double open, int magic, int exp, char16_t* err) {
  VoidWrapper([&] { K5MkView::InitCreds(ArgText(server, "server"), open, magic, exp); }, err);
}

void K5_CALL InitTimeZoneInfo(int gmtServerOffset, char16_t* err) {
  VoidWrapper([&] { K5MkView::InitTimeZoneInfo(gmtServerOffset); }, err);
}

int K5_CALL OrderBook(const char16_t* instrument, int mt4Time, char16_t* err) {
  return IntWrapper(
      [&](ErrText& text) {
        return K5MkView::OrderBook(ArgText(instrument, "instrument"), mt4Time, text);
      },
      err, -1);
}

int K5_CALL PositionBook(const char16_t* instrument, int mt4Time, char16_t* err) {
  return IntWrapper(
      [&](ErrText& text) {
        return K5MkView::PositionBook(ArgText(instrument, "instrument"), mt4Time, text);
      },
      err, -1);
}

int K5_CALL OrderBook_Sz(int refnum, char16_t* err) {
  return IntWrapper(
      [&](ErrText& text) { return BookQueries::BookSz(refnum, Cache::getOrderBook(refnum), text); },
      err, -1);
}

int K5_CALL PositionBook_Sz(int refnum, char16_t* err) {
  return IntWrapper(
      [&](ErrText& text) {
        return BookQueries::BookSz(refnum, Cache::getPositionBook(refnum), text);
      },
      err, -1);
}

void K5_CALL OrderBook_BookData(int refnum, double* shortCounts, double* longCounts,
                                double* prices, int arrSz, char16_t* err) {
  VoidWrapper(
      [&](ErrText& text) {
        BookQueries::BookData(refnum, Cache::getOrderBook(refnum), shortCounts, longCounts, prices,
                              arrSz, text);
      },
      err);
}

void K5_CALL PositionBook_BookData(int refnum, double* shortCounts, double* longCounts,
                                   double* prices, int arrSz, char16_t* err) {
  VoidWrapper(
      [&](ErrText& text) {
        BookQueries::BookData(refnum, Cache::getPositionBook(refnum), shortCounts, longCounts,
                              prices, arrSz, text);
      },
      err);
}

void K5_CALL OrderBook_MetaData(int refnum, double* bucketWidth, double* price, int arrSz,
                                char16_t* time, char16_t* instrument, char16_t* err) {
  VoidWrapper(
      [&](ErrText& text) {
        BookQueries::MetaData(refnum, Cache::getOrderBook(refnum), bucketWidth, price, arrSz, time,
                              instrument, text);
      },
      err);
}

void K5_CALL PositionBook_MetaData(int refnum, double* bucketWidth, double* price, int arrSz,
                                   char16_t* time, char16_t* instrument, char16_t* err) {
  VoidWrapper(
      [&](ErrText& text) {
        BookQueries::MetaData(refnum, Cache::getPositionBook(refnum), bucketWidth, price, arrSz,
                              time, instrument, text);
      },
      err);
}

}  // extern "C"
