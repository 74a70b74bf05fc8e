//+------------------------------------------------------------------+
//| k5-book-histogram.mq5                                            |
//| The order book and the position book of the chart's symbol as    |
//| horizontal bars at their prices, right of the last bar, beside   |
//| the price axis.                                                  |
//+------------------------------------------------------------------+
// Each book is a column: the short percentage of a bucket grows to the left of the column's
// middle, the long percentage to the right, and a line marks the book's market price. The books
// are fetched by a timer, never per tick: the indicator runs on the terminal's interface thread,
// which waits while a request is under way. Needs k5-mkview.dll and its token file in
// MQL5\Libraries and "Allow DLL imports" (see k5-mkview.mqh). One copy per chart.
#property indicator_chart_window
#property indicator_buffers 0
#property indicator_plots 0
#property description "Order book and position book of the chart's symbol, read through k5-mkview.dll."
#property description "Short to the left of each column's middle, long to the right; a line marks the market price."

#include <k5-mkview.mqh>

input string InpServer         = "";             // Trading server for the credentials ("" = the connected one)
input string InpInstrument     = "";             // Service instrument, e.g. EUR_USD ("" = from the chart symbol)
input int    InpGmtOffset      = K5_AUTO_OFFSET; // Server's offset from UTC in hours (99 = estimate)
input int    InpRefreshMinutes = 5;              // Minutes between requests
input int    InpBuckets        = 20;             // Buckets shown above and below the market price
input int    InpBarLength      = 12;             // Length of the longest bar, in chart bars
input bool   InpOrderBook      = true;           // Show the order book
input bool   InpPositionBook   = true;           // Show the position book
input bool   InpShiftChart     = true;           // Make room right of the last bar (chart shift)
input color  InpLongColor      = clrSeaGreen;    // Long bars
input color  InpShortColor     = clrIndianRed;   // Short bars
input color  InpPriceColor     = clrGold;        // Market price line
input color  InpTextColor      = clrSilver;      // Titles and messages

#define K5H_PREFIX "k5-book-histogram."
#define K5H_GAP_BARS 2   // free bars between the last bar and the first column

CK5Book  g_orderBook(K5_ORDER_BOOK);
CK5Book  g_positionBook(K5_POSITION_BOOK);
string   g_instrument;
bool     g_initialised = false;   // K5Init succeeded since the last failed request
bool     g_firstTimer = true;
datetime g_drawnBar = 0;
string   g_status = "";

//+------------------------------------------------------------------+
int OnInit()
  {
   if(!K5DllsAllowed())
     {
      Alert(K5DllsMessage());
      return(INIT_FAILED);
     }
   if(InpRefreshMinutes < 1 || InpBuckets < 1 || InpBarLength < 1)
     {
      Print("k5-book-histogram: minutes, buckets and bar length must be at least 1");
      return(INIT_PARAMETERS_INCORRECT);
     }
   g_instrument = (InpInstrument == "") ? K5Instrument(_Symbol) : InpInstrument;
   if(InpShiftChart)
      ChartSetInteger(0, CHART_SHIFT, true);
   // The first request comes from the timer a second from now, so attaching the indicator
   // does not wait for the network.
   EventSetTimer(1);
   return(INIT_SUCCEEDED);
  }

//+------------------------------------------------------------------+
void OnDeinit(const int reason)
  {
   EventKillTimer();
   ObjectsDeleteAll(0, K5H_PREFIX);
   ChartRedraw(0);
  }

//+------------------------------------------------------------------+
void OnTimer()
  {
   if(g_firstTimer)
     {
      g_firstTimer = false;
      EventKillTimer();
      EventSetTimer(InpRefreshMinutes * 60);
     }
   // Initialising again after a failure picks up a new token file or server.
   if(!g_initialised)
     {
      string failure = K5Init(InpServer, InpGmtOffset);
      if(failure != "")
        {
         ShowStatus(failure);
         return;
        }
      g_initialised = true;
     }
   string status = "";
   if(InpOrderBook && !g_orderBook.Request(g_instrument, 0))
      status = "order book: " + g_orderBook.LastError();
   if(InpPositionBook && !g_positionBook.Request(g_instrument, 0))
      status = (status == "" ? "" : status + "; ") + "position book: " + g_positionBook.LastError();
   if(status != "")
      g_initialised = false;
   ShowStatus(status);
   Draw();
  }

//+------------------------------------------------------------------+
int OnCalculate(const int rates_total,
                const int prev_calculated,
                const datetime &time[],
                const double &open[],
                const double &high[],
                const double &low[],
                const double &close[],
                const long &tick_volume[],
                const long &volume[],
                const int &spread[])
  {
   // A new bar moves the columns along from the books already fetched; no request here.
   if(iTime(_Symbol, PERIOD_CURRENT, 0) != g_drawnBar)
      Draw();
   return(rates_total);
  }

//+------------------------------------------------------------------+
//| The first line of a failure as a label in the chart's corner,    |
//| the whole text in the Experts log once per change.               |
//+------------------------------------------------------------------+
void ShowStatus(const string text)
  {
   string name = K5H_PREFIX + "status";
   if(text != g_status && text != "")
      Print("k5-book-histogram: ", text);
   g_status = text;
   if(text == "")
     {
      ObjectDelete(0, name);
      return;
     }
   if(ObjectFind(0, name) < 0)
     {
      ObjectCreate(0, name, OBJ_LABEL, 0, 0, 0);
      ObjectSetInteger(0, name, OBJPROP_CORNER, CORNER_LEFT_LOWER);
      ObjectSetInteger(0, name, OBJPROP_ANCHOR, ANCHOR_LEFT_LOWER);
      ObjectSetInteger(0, name, OBJPROP_XDISTANCE, 8);
      ObjectSetInteger(0, name, OBJPROP_YDISTANCE, 8);
      ObjectSetInteger(0, name, OBJPROP_SELECTABLE, false);
      ObjectSetInteger(0, name, OBJPROP_HIDDEN, true);
     }
   string line = text;
   int end = StringFind(line, "\n");
   if(end >= 0)
      line = StringSubstr(line, 0, end);
   // Labels show at most 63 characters.
   ObjectSetString(0, name, OBJPROP_TEXT, StringSubstr("k5: " + line, 0, 63));
   ObjectSetInteger(0, name, OBJPROP_COLOR, InpTextColor);
   ChartRedraw(0);
  }

//+------------------------------------------------------------------+
void Draw()
  {
   g_drawnBar = iTime(_Symbol, PERIOD_CURRENT, 0);
   ObjectsDeleteAll(0, K5H_PREFIX + "book.");
   datetime left = g_drawnBar + K5H_GAP_BARS * PeriodSeconds();
   if(InpOrderBook && g_orderBook.Count() > 0)
     {
      DrawBook(g_orderBook, "order", "Order book", left);
      left += (2 * InpBarLength + K5H_GAP_BARS) * PeriodSeconds();
     }
   if(InpPositionBook && g_positionBook.Count() > 0)
      DrawBook(g_positionBook, "position", "Position book", left);
   ChartRedraw(0);
  }

//+------------------------------------------------------------------+
//| One book as a column starting at the time `left`, 2 *            |
//| InpBarLength bars wide.                                          |
//+------------------------------------------------------------------+
void DrawBook(const CK5Book &book, const string key, const string title, const datetime left)
  {
   int seconds = PeriodSeconds();
   datetime middle = left + InpBarLength * seconds;
   datetime right = left + 2 * InpBarLength * seconds;
   double width = book.BucketWidth();
   double market = book.MarketPrice();
   if(width <= 0.0)
      return;
   string prefix = K5H_PREFIX + "book." + key + ".";

   // The buckets whose middle lies within InpBuckets bucket widths of the market price, and the
   // largest percentage among them, which gets the full bar length.
   double reach = (InpBuckets + 0.5) * width;
   double largest = 0.0;
   double top = market;
   for(int i = 0; i < book.Count(); i++)
     {
      if(MathAbs(book.Price(i) + width / 2.0 - market) > reach)
         continue;
      largest = MathMax(largest, MathMax(book.ShortPercent(i), book.LongPercent(i)));
      top = MathMax(top, book.Price(i) + width);
     }
   if(largest <= 0.0)
      return;

   for(int i = 0; i < book.Count(); i++)
     {
      if(MathAbs(book.Price(i) + width / 2.0 - market) > reach)
         continue;
      double low = book.Price(i);
      double high = low + width;
      int shortBars = BarCount(book.ShortPercent(i), largest);
      int longBars = BarCount(book.LongPercent(i), largest);
      if(shortBars > 0)
         Rectangle(prefix + "s" + IntegerToString(i), middle - shortBars * seconds, low,
                   middle, high, InpShortColor);
      if(longBars > 0)
         Rectangle(prefix + "l" + IntegerToString(i), middle, low,
                   middle + longBars * seconds, high, InpLongColor);
     }

   string line = prefix + "price";
   if(ObjectCreate(0, line, OBJ_TREND, 0, left, market, right, market))
     {
      ObjectSetInteger(0, line, OBJPROP_COLOR, InpPriceColor);
      ObjectSetInteger(0, line, OBJPROP_WIDTH, 2);
      ObjectSetInteger(0, line, OBJPROP_RAY_RIGHT, false);
      ObjectSetInteger(0, line, OBJPROP_SELECTABLE, false);
      ObjectSetInteger(0, line, OBJPROP_HIDDEN, true);
     }
   string label = prefix + "title";
   if(ObjectCreate(0, label, OBJ_TEXT, 0, middle, top))
     {
      ObjectSetString(0, label, OBJPROP_TEXT, title + " " + book.BookTime());
      ObjectSetInteger(0, label, OBJPROP_ANCHOR, ANCHOR_LOWER);
      ObjectSetInteger(0, label, OBJPROP_COLOR, InpTextColor);
      ObjectSetInteger(0, label, OBJPROP_FONTSIZE, 8);
      ObjectSetInteger(0, label, OBJPROP_SELECTABLE, false);
      ObjectSetInteger(0, label, OBJPROP_HIDDEN, true);
     }
  }

//+------------------------------------------------------------------+
//| Bars for `percent` when `largest` gets InpBarLength; at least    |
//| one for any share above zero.                                    |
//+------------------------------------------------------------------+
int BarCount(const double percent, const double largest)
  {
   if(percent <= 0.0)
      return(0);
   int bars = (int)MathRound(percent / largest * InpBarLength);
   return(bars < 1 ? 1 : bars);
  }

//+------------------------------------------------------------------+
void Rectangle(const string name, const datetime t1, const double p1, const datetime t2,
               const double p2, const color fill)
  {
   if(!ObjectCreate(0, name, OBJ_RECTANGLE, 0, t1, p1, t2, p2))
      return;
   ObjectSetInteger(0, name, OBJPROP_COLOR, fill);
   ObjectSetInteger(0, name, OBJPROP_FILL, true);
   ObjectSetInteger(0, name, OBJPROP_BACK, true);
   ObjectSetInteger(0, name, OBJPROP_SELECTABLE, false);
   ObjectSetInteger(0, name, OBJPROP_HIDDEN, true);
  }
//+------------------------------------------------------------------+
