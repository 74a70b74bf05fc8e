//+------------------------------------------------------------------+
//| k5-check.mq4                                                     |
//| Checks, step by step, that this terminal can read books through  |
//| k5-mkview.dll, and reports each step in the Experts log and the  |
//| outcome in an alert.                                             |
//+------------------------------------------------------------------+
// The terminal loads the library when it loads this script. If the library is missing or
// cannot be loaded, the script does not start at all and the Experts log says that
// k5-mkview.dll cannot be loaded: put the 32-bit k5-mkview.dll into MQL4\Libraries.
#property strict
#property script_show_inputs
#property description "Checks DLL imports, the library, the time zone, the credentials and one order book."

#include <k5-mkview.mqh>

input string   InpServer     = "";             // Trading server ("" = the connected one)
input string   InpInstrument = "";             // Service instrument, e.g. EUR_USD ("" = from the chart symbol)
input int      InpGmtOffset  = K5_AUTO_OFFSET; // Server's offset from UTC in hours (99 = estimate)
input datetime InpBarTime    = 0;              // Bar time of the book (0 = the latest)

void Passed(const string step)
  {
   Print("k5-check: ", step, ": ok");
  }

void Failed(const string step, const string why)
  {
   Print("k5-check: ", step, ": FAILED: ", why);
   Alert("k5-check failed at \"", step, "\": ", why);
  }

//+------------------------------------------------------------------+
void OnStart()
  {
   string step = "1/5 DLL imports allowed";
   if(!K5DllsAllowed())
     {
      Failed(step, K5DllsMessage());
      return;
     }
   Passed(step);

   // A harmless first call: the size of a book that does not exist.
   step = "2/5 k5-mkview.dll loaded";
   string err = K5Buffer(K5_ERR_CAPACITY);
   int size = OrderBook_Sz(0, err);
   if(size != -1 || err != "Invalid refnum passed in 0")
     {
      Failed(step, "OrderBook_Sz(0) answered " + IntegerToString(size) + " \"" + err +
             "\" instead of -1 \"Invalid refnum passed in 0\"");
      return;
     }
   Passed(step);

   int offset = (InpGmtOffset == K5_AUTO_OFFSET) ? K5EstimateGmtOffset() : InpGmtOffset;
   step = "3/5 time zone set (server at UTC" + (offset >= 0 ? "+" : "") +
          IntegerToString(offset) + ")";
   string failure = K5InitTimeZone(offset);
   if(failure != "")
     {
      Failed(step, failure);
      return;
     }
   Passed(step);

   string server = (InpServer == "") ? K5ServerName() : InpServer;
   step = "4/5 credentials initialised for \"" + server + "\"";
   failure = K5InitCreds(server);
   if(failure != "")
     {
      Failed(step, failure);
      return;
     }
   Passed(step);

   string instrument = (InpInstrument == "") ? K5Instrument(_Symbol) : InpInstrument;
   step = "5/5 order book of " + instrument + " fetched";
   CK5Book book(K5_ORDER_BOOK);
   if(!book.Request(instrument, InpBarTime))
     {
      Failed(step, book.LastError());
      return;
     }
   Passed(step);
   string summary = "order book of " + book.Instrument() + " at " + book.BookTime() + ": " +
                    IntegerToString(book.Count()) + " buckets, price " +
                    DoubleToString(book.MarketPrice(), _Digits) + ", bucket width " +
                    DoubleToString(book.BucketWidth(), _Digits);
   Print("k5-check: ", summary);
   Alert("k5-check: all 5 steps passed; ", summary);
  }
//+------------------------------------------------------------------+
