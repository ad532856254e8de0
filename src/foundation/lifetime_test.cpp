#include "foundation/lifetime.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace vyn::lifetime {
namespace {

// Longevities far above the program's own, so that running the actions down to them here leaves
// the log module and the other process objects alone.
constexpr std::uint32_t test_base = 0xF0000000u;

std::vector<std::string>& journal() {
  static std::vector<std::string> entries;
  return entries;
}

class recording_action final : public at_exit_action_node_base {
 public:
  recording_action(std::uint32_t longevity, std::string name, at_exit_action_node_base* then = nullptr)
      : at_exit_action_node_base(longevity), name_(std::move(name)), then_(then) {}
  void run() override {
    journal().push_back(name_);
    if (then_) register_at_exit_action(then_);
  }

 private:
  std::string name_;
  at_exit_action_node_base* then_;
};

TEST(AtExitActions, RunLargestLongevityFirstDownToTheThresholdAndPickUpActionsRegisteredMeanwhile) {
  journal().clear();
  register_at_exit_action(new recording_action(test_base + 10, "10"));
  register_at_exit_action(new recording_action(test_base + 30, "30",
                                               new recording_action(test_base + 20, "20 (registered by 30)")));
  register_at_exit_action(new recording_action(test_base + 40, "40"));
  register_at_exit_action(new recording_action(test_base + 5, "5 (below the threshold)"));
  register_at_exit_action(new recording_action(test_base + 10, "10 again"));

  run_at_exit_actions(test_base + 10);
  EXPECT_THAT(journal(), testing::ElementsAre("40", "30", "20 (registered by 30)", "10 again", "10"));
  EXPECT_FALSE(shutting_down());  // only the process end is a shutdown

  run_at_exit_actions(test_base + 5);  // the one left for a lower threshold
  EXPECT_EQ(journal().back(), "5 (below the threshold)");
  EXPECT_EQ(journal().size(), 6u);
}

struct counted {
  static inline std::atomic<int> made{0};
  static inline std::atomic<int> gone{0};
  int value;
  explicit counted(int v) : value(v) {
    ++made;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // long enough for the others to wait
  }
  ~counted() { ++gone; }
};

constinit lifetime_object<counted> shared_counted(test_base + 100);

TEST(LifetimeObject, ConcurrentFirstUses_CreateOneObjectAndAfterItsActionGetRaises) {
  std::vector<std::thread> users;
  std::atomic<int> seen_sum{0};
  for (int i = 0; i < 8; ++i) {
    users.emplace_back([&seen_sum] { seen_sum += shared_counted.get([] { return counted(7); }).value; });
  }
  for (auto& user : users) user.join();
  EXPECT_EQ(counted::made, 1);
  EXPECT_EQ(seen_sum, 8 * 7);
  ASSERT_NE(shared_counted.find(), nullptr);

  run_at_exit_actions(test_base + 100);
  EXPECT_EQ(counted::gone, 1);
  EXPECT_TRUE(shared_counted.destroyed());
  EXPECT_EQ(shared_counted.find(), nullptr);
  try {
    shared_counted.get([] { return counted(1); });
    FAIL() << "no exception";
  } catch (const object_already_destroyed& e) {
    EXPECT_STREQ(e.what(), "Object was already destroyed");
  }
  EXPECT_EQ(counted::made, 1);
}

struct tracked_singleton_type {
  int answer = 42;
};
using tracked = singleton<tracked_singleton_type, test_base + 200>;

TEST(Singleton, AskedForAfterDestruction_RaisesTheFatalErrorWithTheAccessViolationCode) {
  EXPECT_EQ(tracked::find(), nullptr);
  EXPECT_EQ(tracked::instance().answer, 42);
  EXPECT_EQ(&tracked::instance(), tracked::find());
  run_at_exit_actions(test_base + 200);
  try {
    tracked::instance();
    FAIL() << "no exception";
  } catch (const exceptions::fatal& e) {
    EXPECT_STREQ(e.what(), "Singleton already destroyed");
    EXPECT_EQ(e.code(), 0xC0000005u);
    EXPECT_NE(dynamic_cast<const object_already_destroyed*>(&e), nullptr);
  }
}

struct fails_once {
  static inline int attempts = 0;
  fails_once() {
    if (++attempts == 1) throw std::runtime_error("first creation fails");
  }
};
constinit lifetime_object<fails_once> flaky(test_base + 300);

TEST(LifetimeObject, CreationThatRaises_LeavesItUncreatedForTheNextUse) {
  EXPECT_THROW(flaky.get(), std::runtime_error);
  EXPECT_EQ(flaky.find(), nullptr);
  EXPECT_NO_THROW(flaky.get());
  EXPECT_EQ(fails_once::attempts, 2);
}

struct asks_for_itself;
extern lifetime_object<asks_for_itself> recursive;
struct asks_for_itself {
  asks_for_itself() { recursive.get(); }
};
constinit lifetime_object<asks_for_itself> recursive(test_base + 400);

TEST(LifetimeObject, ConstructionAskingForItself_FailsInsteadOfWaitingForever) {
  try {
    recursive.get();
    FAIL() << "no exception";
  } catch (const object_creation_error& e) {
    EXPECT_STREQ(e.what(), "Object creation failed");
  }
  EXPECT_EQ(recursive.find(), nullptr);
}

TEST(LifetimeObject, HolderOutsideStaticMemory_IsAFatalProgrammingError) {
  lifetime_object<int> on_stack(test_base + 500);
  auto on_heap = std::make_unique<lifetime_object<int>>(test_base + 500);
  for (lifetime_object<int>* holder : {&on_stack, on_heap.get()}) {
    try {
      holder->get();
      FAIL() << "no exception";
    } catch (const exceptions::fatal& e) {
      EXPECT_STREQ(e.what(),
                   "lifetime_object must be allocated on static memory (static or global variable or member of "
                   "such a variable).");
    }
  }
}

class throwing_action final : public at_exit_action_node_base {
 public:
  throwing_action() : at_exit_action_node_base(test_base + 600) {}
  void run() override { throw std::runtime_error("action fails"); }
};

#ifdef _WIN32
// Ends the child with 42 when the structured exception carries the expected code and text.
LONG CALLBACK expect_atexit_exception(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD& record = *info->ExceptionRecord;
  if (record.ExceptionCode != atexit_action_failed) return EXCEPTION_CONTINUE_SEARCH;
  const bool as_expected = (record.ExceptionFlags & EXCEPTION_NONCONTINUABLE) && record.NumberParameters == 1 &&
                           std::strcmp(reinterpret_cast<const char*>(record.ExceptionInformation[0]),
                                       "Atexit action throws exception!") == 0;
  ::TerminateProcess(::GetCurrentProcess(), as_expected ? 42 : 43);
  return EXCEPTION_CONTINUE_SEARCH;
}

TEST(AtExitActionsDeathTest, ActionThatThrows_EndsTheProcessWithTheAtExitException) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        ::AddVectoredExceptionHandler(1, &expect_atexit_exception);
        register_at_exit_action(new throwing_action);
        run_at_exit_actions(test_base + 600);
      },
      testing::ExitedWithCode(42), "");
}
#else
TEST(AtExitActionsDeathTest, ActionThatThrows_EndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        register_at_exit_action(new throwing_action);
        run_at_exit_actions(test_base + 600);
      },
      "Atexit action throws exception!");
}
#endif

}  // namespace
}  // namespace vyn::lifetime
