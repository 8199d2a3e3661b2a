// Object, Reference and the memory hooks: counting, the first-retain hook, plain
// objects that refuse to be shared, the text form and the fatal plain delete.
#include "utils/object.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "test/support/fatal_test.h"
#include "utils/string.h"

using namespace nubrix;

namespace {

int alloc_calls = 0;
size_t alloc_size = 0;
int release_calls = 0;
int retain_calls = 0;
Object* last_retained = nullptr;

void* counting_alloc(size_t size) {
  alloc_calls++;
  alloc_size = size;
  return malloc(size);
}
void counting_release(Object* obj) {
  release_calls++;
  obj->~Object();
  free(obj);
}
void counting_retain(Object* obj) {
  retain_calls++;
  last_retained = obj;
}

// Reports its own destruction.
class Probe : public Object {
 public:
  explicit Probe(bool* died) : died_(died) {}
  ~Probe() override { *died_ = true; }

 private:
  bool* died_;
};

class RefProbe : public Reference {
 public:
  explicit RefProbe(bool* died) : died_(died) {}
  ~RefProbe() override { *died_ = true; }
  int64_t payload[4] = {1, 2, 3, 4};

 private:
  bool* died_;
};

class MemoryHooksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    alloc_calls = release_calls = retain_calls = 0;
    alloc_size = 0;
    last_retained = nullptr;
  }
  void TearDown() override { set_memory_hooks(nullptr); }
};

TEST_F(MemoryHooksTest, ReferenceCountsAndCallsRetainHookOnce) {
  MemoryHooks hooks = {nullptr, counting_release, counting_retain};
  set_memory_hooks(&hooks);
  bool died = false;
  RefProbe* r = new RefProbe(&died);
  EXPECT_EQ(alloc_calls, 0);  // a null alloc entry keeps malloc
  EXPECT_TRUE(r->is_reference());
  EXPECT_EQ(r->ref_count(), 0);
  EXPECT_FALSE(r->retain_if_live());  // no holder yet: nothing taken, no hook
  EXPECT_EQ(r->ref_count(), 0);

  EXPECT_TRUE(r->retain());
  EXPECT_EQ(r->ref_count(), 1);
  EXPECT_EQ(retain_calls, 1);
  EXPECT_EQ(last_retained, r);

  EXPECT_TRUE(retain(r));
  EXPECT_EQ(r->ref_count(), 2);
  EXPECT_EQ(retain_calls, 1);  // only the first holder is reported
  EXPECT_TRUE(r->retain_if_live());
  EXPECT_EQ(r->ref_count(), 3);
  EXPECT_EQ(retain_calls, 1);
  r->release();

  r->release();
  EXPECT_EQ(r->ref_count(), 1);
  EXPECT_EQ(release_calls, 0);
  EXPECT_FALSE(died);

  release(r);  // count 1 -> 0 ends it through the hook
  EXPECT_EQ(release_calls, 1);
  EXPECT_TRUE(died);
}

TEST_F(MemoryHooksTest, AllocHookGetsObjectSize) {
  MemoryHooks hooks = {counting_alloc, counting_release, nullptr};
  set_memory_hooks(&hooks);
  bool died = false;
  RefProbe* r = new RefProbe(&died);
  EXPECT_EQ(alloc_calls, 1);
  EXPECT_EQ(alloc_size, sizeof(RefProbe));
  EXPECT_EQ(r->payload[3], 4);
  r->retain();
  EXPECT_EQ(retain_calls, 0);  // null retain entry: the default does nothing
  r->release();
  EXPECT_EQ(release_calls, 1);
  EXPECT_TRUE(died);
}

TEST_F(MemoryHooksTest, NullRecordRestoresDefaults) {
  MemoryHooks hooks = {counting_alloc, counting_release, counting_retain};
  set_memory_hooks(&hooks);
  set_memory_hooks(nullptr);
  bool died = false;
  RefProbe* r = new RefProbe(&died);
  r->retain();
  r->release();
  EXPECT_TRUE(died);  // the default release destroys and frees
  EXPECT_EQ(alloc_calls, 0);
  EXPECT_EQ(retain_calls, 0);
  EXPECT_EQ(release_calls, 0);
}

TEST_F(MemoryHooksTest, ReleaseWithoutHolderEndsReference) {
  // A count that drops to 0 or below ends the object.
  MemoryHooks hooks = {nullptr, counting_release, nullptr};
  set_memory_hooks(&hooks);
  bool died = false;
  RefProbe* r = new RefProbe(&died);
  r->release();
  EXPECT_EQ(release_calls, 1);
  EXPECT_TRUE(died);
}

TEST(ObjectTest, PlainObjectIsOwnedAloneAndEndsAtRelease) {
  bool died = false;
  Probe* p = new Probe(&died);
  EXPECT_FALSE(p->is_reference());
  EXPECT_FALSE(p->retain());
  EXPECT_FALSE(retain(p));
  EXPECT_FALSE(died);
  p->release();
  EXPECT_TRUE(died);

  died = false;
  Probe* q = new Probe(&died);
  destroy_object(q);
  EXPECT_TRUE(died);
}

TEST(ObjectTest, NullTolerantForms) {
  EXPECT_FALSE(retain(nullptr));
  release(nullptr);
  destroy_object(nullptr);
}

TEST(ObjectTest, TextFormIsSharedObjectText) {
  bool died = false;
  Probe* p = new Probe(&died);
  Reference* r = new Reference();
  Object plain;
  String a = p->to_string();
  String b = r->to_string();
  EXPECT_TRUE(a.equals("[Object]"));
  EXPECT_TRUE(b.equals("[Object]"));
  EXPECT_TRUE(plain.to_string().equals("[Object]"));
  EXPECT_TRUE(a.shares_core_with(b));  // one shared String
  p->release();
  r->release();
}

TEST(ObjectDeathTest, PlainDeleteIsFatal) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_FATAL(
      {
        Object* o = new Object();
        delete o;
      },
      "# Fatal error in utils/object, line 157, func operator delete");
  EXPECT_FATAL(
      {
        Reference* r = new Reference();
        delete r;
      },
      "Unreachable code\n#\n# Fatal error in utils/object, line 157, func operator delete");
}

}  // namespace
