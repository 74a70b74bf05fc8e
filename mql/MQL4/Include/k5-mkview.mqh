//+------------------------------------------------------------------+
//| k5-mkview.mqh                                                    |
//| Order books and position books of an instrument, read through    |
//| k5-mkview.dll.                                                   |
//+------------------------------------------------------------------+
// Where the files go (the terminal's data folder, File > Open Data Folder):
//   MQL4\Libraries\k5-mkview.dll     the library (the 32-bit build)
//   MQL4\Libraries\tervik_token.txt  the access token, written with k5-token
//   MQL4\Include\k5-mkview.mqh       this file; programs say #include <k5-mkview.mqh>
// DLL imports must be allowed: Tools > Options > Expert Advisors > "Allow DLL imports", or
// "Allow DLL imports" on the Common tab of the program's properties.
//
// Texts the library writes into (err, and the time and instrument of the _MetaData calls) are
// passed as `string &`. The library writes at most as many characters as the string held when
// the call began, so each one must be prepared with K5Buffer() before every call: an empty
// string receives nothing, and a call that succeeds hands err back empty. An empty err after a
// call therefore means success.
//
// The library answers on the calling thread and a book request waits for the network: call it
// from a timer or a script, never on every tick.
#ifndef K5_MKVIEW_MQH
#define K5_MKVIEW_MQH

#import "k5-mkview.dll"
void OrderBook_Free(int refnum, string &err);
void PositionBook_Free(int refnum, string &err);
void InitCreds(string server, double open, int magic, int exp, string &err);
void InitTimeZoneInfo(int gmtServerOffset, string &err);
int  OrderBook(string instrument, int mt4Time, string &err);
int  PositionBook(string instrument, int mt4Time, string &err);
int  OrderBook_Sz(int refnum, string &err);
int  PositionBook_Sz(int refnum, string &err);
void OrderBook_BookData(int refnum, double &shortCounts[], double &longCounts[], double &prices[], int arrSz, string &err);
void PositionBook_BookData(int refnum, double &shortCounts[], double &longCounts[], double &prices[], int arrSz, string &err);
void OrderBook_MetaData(int refnum, double &bucketWidth[], double &price[], int arrSz, string &time, string &instrument, string &err);
void PositionBook_MetaData(int refnum, double &bucketWidth[], double &price[], int arrSz, string &time, string &instrument, string &err);
#import

#define K5_ERR_CAPACITY  2048   // room for an error text: message, reply body and trace
#define K5_TEXT_CAPACITY 64     // room for a book's time or instrument
#define K5_AUTO_OFFSET   99     // K5InitTimeZone: estimate the offset from the terminal's clocks

//+------------------------------------------------------------------+
//| A text of `capacity` spaces: a buffer the library may fill with  |
//| up to `capacity` characters when it is passed as `string &`.     |
//+------------------------------------------------------------------+
string K5Buffer(const int capacity)
  {
   string text;
   StringInit(text, capacity, ' ');
   return(text);
  }

//+------------------------------------------------------------------+
//| Whether this program may call the library.                       |
//+------------------------------------------------------------------+
bool K5DllsAllowed()
  {
   return(IsDllsAllowed());
  }

//+------------------------------------------------------------------+
//| What to tell the user when K5DllsAllowed() is false.             |
//+------------------------------------------------------------------+
string K5DllsMessage()
  {
   return("DLL imports are not allowed: switch on \"Allow DLL imports\" under Tools > Options > " +
          "Expert Advisors, or on the Common tab of this program's properties, then attach it " +
          "again");
  }

//+------------------------------------------------------------------+
//| The name of the trading server the terminal is connected to.     |
//+------------------------------------------------------------------+
string K5ServerName()
  {
   return(AccountInfoString(ACCOUNT_SERVER));
  }

//+------------------------------------------------------------------+
//| The trading server's offset from UTC in whole hours, read from   |
//| the time of the last quote. Over a weekend that time is old and  |
//| the estimate can be an hour off after a change of summer time:   |
//| pass the offset explicitly there.                                |
//+------------------------------------------------------------------+
int K5EstimateGmtOffset()
  {
   return((int)MathRound((double)(TimeCurrent() - TimeGMT()) / 3600.0));
  }

//+------------------------------------------------------------------+
//| Tells the library the trading server's clock. gmtOffsetHours: 2  |
//| or 3 for a server on UTC+2 in winter and +3 in summer; -5 or -4  |
//| (any other value) for one on US Eastern time; K5_AUTO_OFFSET to  |
//| estimate it. Returns "" on success, otherwise what failed.       |
//+------------------------------------------------------------------+
string K5InitTimeZone(const int gmtOffsetHours = K5_AUTO_OFFSET)
  {
   if(!K5DllsAllowed())
      return(K5DllsMessage());
   int offset = (gmtOffsetHours == K5_AUTO_OFFSET) ? K5EstimateGmtOffset() : gmtOffsetHours;
   string err = K5Buffer(K5_ERR_CAPACITY);
   InitTimeZoneInfo(offset, err);
   if(err != "")
      return("InitTimeZoneInfo(" + IntegerToString(offset) + "): " + err);
   return("");
  }

//+------------------------------------------------------------------+
//| Makes the library use the token file beside it for `server`, the |
//| trading server's name ("" for the one the terminal is connected  |
//| to). Returns "" on success, otherwise what failed.               |
//+------------------------------------------------------------------+
string K5InitCreds(const string server = "")
  {
   if(!K5DllsAllowed())
      return(K5DllsMessage());
   string name = (server == "") ? K5ServerName() : server;
   string err = K5Buffer(K5_ERR_CAPACITY);
   // 0, 0, 0: no authorization code, read the token file.
   InitCreds(name, 0.0, 0, 0, err);
   if(err != "")
      return("InitCreds(\"" + name + "\"): " + err);
   return("");
  }

//+------------------------------------------------------------------+
//| K5InitTimeZone, then K5InitCreds. Returns "" on success,         |
//| otherwise what failed.                                           |
//+------------------------------------------------------------------+
string K5Init(const string server = "", const int gmtOffsetHours = K5_AUTO_OFFSET)
  {
   string failure = K5InitTimeZone(gmtOffsetHours);
   if(failure != "")
      return(failure);
   return(K5InitCreds(server));
  }

bool K5IsCapital(const ushort c)
  {
   return(c >= 'A' && c <= 'Z');
  }

//+------------------------------------------------------------------+
//| The service's name for a chart symbol. A name with "_" is kept.  |
//| A symbol that starts with six capital letters not followed by a  |
//| seventh is a currency pair, perhaps with the broker's suffix:    |
//| EURUSD, EURUSDm and EURUSD.pro all become EUR_USD. Anything else |
//| is kept, and the library puts "_" before its last three          |
//| characters (US30USD becomes US30_USD, NATGASUSD NATGAS_USD).     |
//| Where that guess is wrong, pass the service's name ("XAU_USD")   |
//| to CK5Book::Request yourself.                                    |
//+------------------------------------------------------------------+
string K5Instrument(const string symbol)
  {
   if(StringFind(symbol, "_") >= 0 || StringLen(symbol) < 6)
      return(symbol);
   for(int i = 0; i < 6; i++)
      if(!K5IsCapital(StringGetCharacter(symbol, i)))
         return(symbol);
   if(StringLen(symbol) > 6 && K5IsCapital(StringGetCharacter(symbol, 6)))
      return(symbol);
   return(StringSubstr(symbol, 0, 3) + "_" + StringSubstr(symbol, 3, 3));
  }

enum ENUM_K5_BOOK
  {
   K5_ORDER_BOOK,     // order book
   K5_POSITION_BOOK   // position book
  };

//+------------------------------------------------------------------+
//| One book, copied out of the library. Request() fetches it,       |
//| copies its buckets and metadata into this object and frees the   |
//| library's handle before it returns, on success and on every      |
//| failure; the destructor frees a handle still held. Bucket i      |
//| covers the prices from Price(i) to Price(i) + BucketWidth(); the |
//| buckets rise in price and their values are percentages.          |
//+------------------------------------------------------------------+
class CK5Book
  {
private:
   ENUM_K5_BOOK      m_kind;
   int               m_handle;        // the library's handle while Request() runs, else -1
   int               m_count;
   double            m_short[];
   double            m_long[];
   double            m_price[];
   double            m_bucketWidth;
   double            m_marketPrice;
   string            m_time;
   string            m_instrument;
   string            m_error;

   void              Release();
   void              Clear();
   bool              Fail(const string text);

public:
                     CK5Book(const ENUM_K5_BOOK kind);
                    ~CK5Book();
   // Fetches the book of `instrument` (the service's name, see K5Instrument) as of the bar time
   // `barTime` on the trading server's clock, 0 for the latest. On failure the object holds no
   // buckets and LastError() says why.
   bool              Request(const string instrument, const datetime barTime);
   ENUM_K5_BOOK      Kind() const { return(m_kind); }
   int               Count() const { return(m_count); }
   double            ShortPercent(const int i) const { return(m_short[i]); }
   double            LongPercent(const int i) const { return(m_long[i]); }
   double            Price(const int i) const { return(m_price[i]); }
   double            BucketWidth() const { return(m_bucketWidth); }
   double            MarketPrice() const { return(m_marketPrice); }
   string            BookTime() const { return(m_time); }
   string            Instrument() const { return(m_instrument); }
   string            LastError() const { return(m_error); }
  };

CK5Book::CK5Book(const ENUM_K5_BOOK kind)
  {
   m_kind = kind;
   m_handle = -1;
   Clear();
  }

CK5Book::~CK5Book()
  {
   Release();
  }

void CK5Book::Release()
  {
   if(m_handle < 0)
      return;
   string err = K5Buffer(K5_ERR_CAPACITY);
   if(m_kind == K5_ORDER_BOOK)
      OrderBook_Free(m_handle, err);
   else
      PositionBook_Free(m_handle, err);
   m_handle = -1;
  }

void CK5Book::Clear()
  {
   m_count = 0;
   ArrayResize(m_short, 0);
   ArrayResize(m_long, 0);
   ArrayResize(m_price, 0);
   m_bucketWidth = 0.0;
   m_marketPrice = 0.0;
   m_time = "";
   m_instrument = "";
   m_error = "";
  }

bool CK5Book::Fail(const string text)
  {
   Release();
   Clear();
   m_error = text;
   return(false);
  }

bool CK5Book::Request(const string instrument, const datetime barTime)
  {
   Release();
   Clear();
   if(!K5DllsAllowed())
      return(Fail(K5DllsMessage()));
   string err = K5Buffer(K5_ERR_CAPACITY);
   if(m_kind == K5_ORDER_BOOK)
      m_handle = OrderBook(instrument, (int)barTime, err);
   else
      m_handle = PositionBook(instrument, (int)barTime, err);
   if(m_handle < 0)
     {
      // -1 with an empty err: the service answered without a book.
      if(err == "")
         err = "the service sent no book for " + instrument;
      return(Fail(err));
     }

   err = K5Buffer(K5_ERR_CAPACITY);
   int n = -1;
   if(m_kind == K5_ORDER_BOOK)
      n = OrderBook_Sz(m_handle, err);
   else
      n = PositionBook_Sz(m_handle, err);
   if(n < 0 || err != "")
      return(Fail(err));

   if(ArrayResize(m_short, n) != n || ArrayResize(m_long, n) != n || ArrayResize(m_price, n) != n)
      return(Fail("no memory for " + IntegerToString(n) + " buckets"));
   if(n > 0)
     {
      err = K5Buffer(K5_ERR_CAPACITY);
      if(m_kind == K5_ORDER_BOOK)
         OrderBook_BookData(m_handle, m_short, m_long, m_price, n, err);
      else
         PositionBook_BookData(m_handle, m_short, m_long, m_price, n, err);
      if(err != "")
         return(Fail(err));
     }

   double width[1];
   double price[1];
   string time = K5Buffer(K5_TEXT_CAPACITY);
   string name = K5Buffer(K5_TEXT_CAPACITY);
   err = K5Buffer(K5_ERR_CAPACITY);
   // arrSz must be exactly 1.
   if(m_kind == K5_ORDER_BOOK)
      OrderBook_MetaData(m_handle, width, price, 1, time, name, err);
   else
      PositionBook_MetaData(m_handle, width, price, 1, time, name, err);
   if(err != "")
      return(Fail(err));

   Release();
   m_count = n;
   m_bucketWidth = width[0];
   m_marketPrice = price[0];
   m_time = time;
   m_instrument = name;
   return(true);
  }

#endif
