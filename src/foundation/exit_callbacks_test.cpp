#include "foundation/exit_callbacks.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace vyn::lifetime {
namespace {

std::vector<std::string> calls;

void record(void* name) { calls.emplace_back(static_cast<const char*>(name)); }
void raise(void*) { throw std::runtime_error("callback fails"); }

TEST(CallbackStore, RunsWhatIsStillRegisteredNewestFirstOnce) {
  calls.clear();
  char first[] = "first", second[] = "second", removed[] = "removed", last[] = "last";
  {
    callback_store store;
    store.add(&record, first, nullptr, 0);
    store.add(&record, second, nullptr, 0);
    const std::uint64_t gone = store.add(&record, removed, nullptr, 0);
    store.add(&raise, nullptr, nullptr, 0);  // skipped over, the others still run
    store.add(&record, last, nullptr, 7);
    store.remove(gone);
    EXPECT_EQ(store.size(), 4u);
    store.run_all();
    EXPECT_THAT(calls, testing::ElementsAre("last", "second", "first"));
    EXPECT_EQ(store.size(), 0u);
    store.add(&record, first, nullptr, 0);
  }  // the store's end runs what was registered since
  EXPECT_THAT(calls, testing::ElementsAre("last", "second", "first", "first"));
}

TEST(CallbackStore, UnknownCookie_IsReportedAsNotFound) {
  callback_store store;
  const std::uint64_t cookie = store.add(&record, nullptr, nullptr, 0);
  store.remove(cookie);
  try {
    store.remove(cookie);
    FAIL() << "no exception";
  } catch (const exceptions::error& e) {
    EXPECT_STREQ(e.what(), "Callback not found");
  }
  EXPECT_FALSE(store.try_remove(12345));
  EXPECT_THROW(store.add(nullptr, nullptr, nullptr, 0), exceptions::error);
}

TEST(CallbackStore, ProcessStoreHolder_UnregistersWhenDeleted) {
  callback_store* store = process_callbacks();
  ASSERT_NE(store, nullptr);
  const std::size_t before = store->size();
  callback_cookie_holder* holder = register_in_process_store(&record, nullptr, nullptr, 0);
  ASSERT_NE(holder, nullptr);
  EXPECT_NE(holder->cookie(), 0u);
  EXPECT_EQ(store->size(), before + 1);
  delete holder;
  EXPECT_EQ(store->size(), before);
}

#ifdef _WIN32
TEST(CallbackStore, CallbackOutsideItsModule_IsSkipped) {
  calls.clear();
  char mine[] = "mine", stale[] = "stale";
  callback_store store;
  store.add(&record, mine, ::GetModuleHandleW(nullptr), 0);
  // As left by a module that unloaded: the callback no longer lies in the module it names.
  store.add(&record, stale, ::GetModuleHandleW(L"kernel32.dll"), 0);
  store.run_all();
  EXPECT_THAT(calls, testing::ElementsAre("mine"));
}

// This test program links the executable's exports, as the stub does.
TEST(ExitCallbackExport, FoundInTheMainImage_RegistersInTheProcessStore) {
  callback_store* store = process_callbacks();
  ASSERT_NE(store, nullptr);
  const std::size_t before = store->size();
  auto holder = register_exit_callback(&record, nullptr, 3);
  ASSERT_NE(holder, nullptr);
  EXPECT_EQ(store->size(), before + 1);
  holder.reset();
  EXPECT_EQ(store->size(), before);
}

TEST(ExitCallbackExport, ImageWithoutTheExport_RaisesNotFound) {
  try {
    register_exit_callback_through(::GetModuleHandleW(L"kernel32.dll"), &record, nullptr, 0);
    FAIL() << "no exception";
  } catch (const exit_callback_not_found_exception& e) {
    EXPECT_STREQ(e.what(), "onexit_register_connector_orvek_2 export not found");
  }
}

TEST(ExitCallbackExport, HeapConnectors_AllocateAndFreeOnTheGivenHeap) {
  using allocate_fn = void* (*)(HANDLE, DWORD, SIZE_T);
  using free_fn = BOOL (*)(HANDLE, DWORD, LPVOID);
  HMODULE self = ::GetModuleHandleW(nullptr);
  const auto allocate = reinterpret_cast<allocate_fn>(
      reinterpret_cast<void*>(::GetProcAddress(self, "vyn_process_storage_allocate_connector")));
  const auto release = reinterpret_cast<free_fn>(
      reinterpret_cast<void*>(::GetProcAddress(self, "vyn_process_storage_deallocate_connector")));
  ASSERT_TRUE(allocate && release);
  void* memory = allocate(::GetProcessHeap(), HEAP_ZERO_MEMORY, 64);
  ASSERT_NE(memory, nullptr);
  EXPECT_EQ(static_cast<unsigned char*>(memory)[63], 0);
  EXPECT_EQ(::HeapSize(::GetProcessHeap(), 0, memory), 64u);
  EXPECT_TRUE(release(::GetProcessHeap(), 0, memory));
}
#endif

}  // namespace
}  // namespace vyn::lifetime
