// Loads a copy of the library, fetches one order book through it and unloads it again, cycle after
// cycle, the way a terminal does when a program is attached to charts and removed again, and
// checks that the process does not grow: no more handles of any type, threads or TLS slots after
// the last cycle than after the warm-up, and at most `kMaxPrivateBytesPerCycle` more private
// memory per cycle on average. Prints the figures of every cycle.
//
// Usage: k5_unload_cycles <cycles> <warm-up cycles>
// Needs the sandbox service (its Practice environment) and its CA in the prefix's Root store.
#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// After windows.h, which they build on.
#include <psapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "access/token_file.h"
#include "loader/k5_exports.h"

namespace {

namespace fs = std::filesystem;

constexpr long kMaxPrivateBytesPerCycle = 1024;
constexpr int kBarTime = 1577120400;  // 2019-12-23 17:00:00 on the +2 server clock

// What the process holds at one moment.
struct Usage {
  std::map<std::string, long> handles;  // by object type name
  long threads = 0;
  long long private_bytes = 0;
  // The lowest free TLS index: it rises when a load keeps a slot (a process has about 1,000).
  unsigned long free_tls_index = 0;

  long total_handles() const {
    long total = 0;
    for (const auto& [type, count] : handles) total += count;
    return total;
  }
};

class UsageMeter {
 public:
  // Fails (returns nullopt and prints why) when a system query fails.
  std::optional<Usage> Measure() {
    Usage usage;
    // Threads first: the snapshot's own handle is closed before the handles are counted.
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return Fail("CreateToolhelp32Snapshot");
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
      if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++usage.threads;
    }
    CloseHandle(snapshot);

    if (!CountHandles(&usage.handles)) return std::nullopt;

    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    if (!K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters))) {
      return Fail("K32GetProcessMemoryInfo");
    }
    usage.private_bytes = static_cast<long long>(counters.PagefileUsage);

    DWORD index = TlsAlloc();
    if (index == TLS_OUT_OF_INDEXES) return Fail("TlsAlloc");
    TlsFree(index);
    usage.free_tls_index = index;
    return usage;
  }

 private:
  std::nullopt_t Fail(const char* what) {
    std::fprintf(stderr, "%s failed with error %lu\n", what, GetLastError());
    return std::nullopt;
  }

  // GetProcessHandleCount is a stub under Wine: the system handle table, filtered by this
  // process, gives the handles and NtQueryObject their types.
  bool CountHandles(std::map<std::string, long>* out) {
    constexpr ULONG kSystemHandleInformation = 16;
    for (;;) {
      ULONG needed = 0;
      NTSTATUS status =
          NtQuerySystemInformation(static_cast<SYSTEM_INFORMATION_CLASS>(kSystemHandleInformation),
                                   table_.data(), static_cast<ULONG>(table_.size()), &needed);
      if (status == static_cast<NTSTATUS>(0xC0000004L)) {  // STATUS_INFO_LENGTH_MISMATCH
        table_.resize(std::max<std::size_t>(table_.size() * 2, needed + 4096));
        continue;
      }
      if (status < 0) {
        std::fprintf(stderr, "NtQuerySystemInformation failed with status 0x%lx\n",
                     static_cast<unsigned long>(status));
        return false;
      }
      break;
    }
    const auto* info = reinterpret_cast<const SYSTEM_HANDLE_INFORMATION*>(table_.data());
    const ULONG pid = GetCurrentProcessId();
    for (ULONG i = 0; i < info->Count; ++i) {
      const SYSTEM_HANDLE_ENTRY& entry = info->Handle[i];
      if (entry.OwnerPid != pid) continue;
      HANDLE handle = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(entry.HandleValue));
      ULONG length = 0;
      std::string type = "?";
      if (NtQueryObject(handle, ObjectTypeInformation, type_info_.data(),
                        static_cast<ULONG>(type_info_.size()), &length) >= 0) {
        const auto* name =
            reinterpret_cast<const PUBLIC_OBJECT_TYPE_INFORMATION*>(type_info_.data());
        type.clear();
        for (USHORT c = 0; c < name->TypeName.Length / sizeof(WCHAR); ++c) {
          WCHAR unit = name->TypeName.Buffer[c];
          type += unit < 0x80 ? static_cast<char>(unit) : '?';
        }
      }
      ++(*out)[type];
    }
    return true;
  }

  // Reused from one measurement to the next, so the meter's own allocations stay put.
  std::vector<unsigned char> table_ = std::vector<unsigned char>(1 << 20);
  std::vector<unsigned char> type_info_ = std::vector<unsigned char>(4096);
};

// "Event 12 (+1), Thread 7": each type's count, with its change against `before`.
std::string DescribeHandles(const Usage& now, const Usage* before) {
  std::map<std::string, long> types = now.handles;
  if (before != nullptr) {
    for (const auto& [type, count] : before->handles) types.emplace(type, 0);
  }
  std::string text;
  for (const auto& [type, unused] : types) {
    auto here = now.handles.find(type);
    long count = here == now.handles.end() ? 0 : here->second;
    text += (text.empty() ? "" : ", ") + type + " " + std::to_string(count);
    if (before != nullptr) {
      auto there = before->handles.find(type);
      long change = count - (there == before->handles.end() ? 0 : there->second);
      if (change != 0)
        text += std::string(" (") + (change > 0 ? "+" : "") + std::to_string(change) + ")";
    }
  }
  return text;
}

// One cycle's work through a freshly loaded copy: the road a terminal program takes. Returns an
// empty text on success, else what went wrong.
std::string RunCycle(const fs::path& library) {
  k5_loader::K5Exports lib;
  k5_loader::LoadFailure failure;
  if (!k5_loader::LoadExports(library, &lib, &failure)) return failure.message;
  std::u16string err(2000, u' ');
  auto text = [&err] {
    std::u16string value(err.c_str());
    std::string narrow;
    for (char16_t unit : value) narrow += unit < 0x80 ? static_cast<char>(unit) : '?';
    err.assign(2000, u' ');  // a call that succeeds hands err back empty
    return narrow;
  };
  lib.InitTimeZoneInfo(2, err.data());
  if (std::string e = text(); !e.empty()) return "InitTimeZoneInfo: " + e;
  lib.InitCreds(u"TERVIK-k5 Practice-2", 0.0, 0, 0, err.data());
  if (std::string e = text(); !e.empty()) return "InitCreds: " + e;
  int handle = lib.OrderBook(u"EURUSD", kBarTime, err.data());
  if (std::string e = text(); handle < 1) return "OrderBook: " + e;
  int n = lib.OrderBook_Sz(handle, err.data());
  if (std::string e = text(); n < 1) return "OrderBook_Sz: " + std::to_string(n) + " " + e;
  std::vector<double> shorts(n), longs(n), prices(n);
  lib.OrderBook_BookData(handle, shorts.data(), longs.data(), prices.data(), n, err.data());
  if (std::string e = text(); !e.empty()) return "OrderBook_BookData: " + e;
  double width = 0, price = 0;
  std::u16string time(60, u' '), instrument(60, u' ');
  lib.OrderBook_MetaData(handle, &width, &price, 1, time.data(), instrument.data(), err.data());
  if (std::string e = text(); !e.empty()) return "OrderBook_MetaData: " + e;
  if (std::u16string(instrument.c_str()) != u"EUR_USD")
    return "OrderBook_MetaData: wrong instrument";
  lib.OrderBook_Free(handle, err.data());
  if (std::string e = text(); !e.empty()) return "OrderBook_Free: " + e;
  return {};  // `lib` unloads the copy
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: k5_unload_cycles <cycles> <warm-up cycles>\n");
    return 2;
  }
  const int cycles = std::atoi(argv[1]);
  const int warm_up = std::atoi(argv[2]);
  if (warm_up < 1 || cycles <= warm_up) {
    std::fprintf(stderr, "need at least one warm-up cycle and more cycles than warm-up cycles\n");
    return 2;
  }

  // A copy of the library in a folder of its own, with the sandbox's Practice token beside it.
  std::random_device random;
  fs::path folder;
  do {
    folder = fs::temp_directory_path() / ("k5-unload-cycles-" + std::to_string(random()));
  } while (!fs::create_directory(folder));
  fs::path library = folder / k5_loader::LibraryFileName();
  fs::copy_file(k5_loader::ExecutableDir() / k5_loader::LibraryFileName(), library);
  std::ofstream(folder / k5_mkview::TokenFile::kFileName, std::ios::binary)
      << k5_mkview::TokenFile::encrypt("sandbox-practice-token") << "\n";

  UsageMeter meter;
  std::optional<Usage> previous, baseline;
  int status = 0;
  for (int cycle = 1; cycle <= cycles && status == 0; ++cycle) {
    if (std::string error = RunCycle(library); !error.empty()) {
      std::printf("cycle %d failed: %s\n", cycle, error.c_str());
      status = 1;
      break;
    }
    std::optional<Usage> now = meter.Measure();
    if (!now) {
      status = 1;
      break;
    }
    long long memory_change = previous ? now->private_bytes - previous->private_bytes : 0;
    std::printf("cycle %d: threads %ld, TLS %lu, private %lld bytes (%+lld), handles %ld: %s\n",
                cycle, now->threads, now->free_tls_index, now->private_bytes, memory_change,
                now->total_handles(),
                DescribeHandles(*now, previous ? &*previous : nullptr).c_str());
    if (cycle == warm_up) baseline = now;
    previous = std::move(now);
  }

  if (status == 0) {
    const Usage& last = *previous;
    const int measured = cycles - warm_up;
    std::printf("\nafter cycle %d against cycle %d (%d cycles):\n", cycles, warm_up, measured);
    std::printf("  handles: %s\n", DescribeHandles(last, &*baseline).c_str());
    for (const auto& [type, count] : last.handles) {
      auto there = baseline->handles.find(type);
      long before = there == baseline->handles.end() ? 0 : there->second;
      if (count > before) {
        std::printf("FAIL: %ld more %s handles\n", count - before, type.c_str());
        status = 1;
      }
    }
    std::printf("  threads: %ld -> %ld\n", baseline->threads, last.threads);
    if (last.threads > baseline->threads) {
      std::printf("FAIL: %ld more threads\n", last.threads - baseline->threads);
      status = 1;
    }
    std::printf("  lowest free TLS index: %lu -> %lu\n", baseline->free_tls_index,
                last.free_tls_index);
    if (last.free_tls_index > baseline->free_tls_index) {
      std::printf("FAIL: %lu more TLS slots taken\n",
                  last.free_tls_index - baseline->free_tls_index);
      status = 1;
    }
    long long growth = last.private_bytes - baseline->private_bytes;
    std::printf("  private memory: %+lld bytes, %+.1f bytes per cycle (bound %ld)\n", growth,
                static_cast<double>(growth) / measured, kMaxPrivateBytesPerCycle);
    if (growth > static_cast<long long>(kMaxPrivateBytesPerCycle) * measured) {
      std::printf("FAIL: private memory grows by more than %ld bytes per cycle\n",
                  kMaxPrivateBytesPerCycle);
      status = 1;
    }
    if (status == 0) std::printf("PASS\n");
  }

  std::error_code ignored;
  fs::remove_all(folder, ignored);
  return status;
}
