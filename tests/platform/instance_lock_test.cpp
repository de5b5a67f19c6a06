// The lock of the one running copy on Linux, within one process: a second
// holder is refused while the first lives and takes it as soon as it is gone;
// the folder it lives in.
#include "platform/instance_lock.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "platform/system.h"
#include "tests/support/temp_dir.h"

namespace {

using platform::InstanceClaim;
using platform::InstanceLock;

TEST(InstanceLock, OneHolderAtATimeAndTheNextTakesItOnceItIsGone) {
    TempDir runtime;
    TempDir install;
    setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    const std::string name = "talmira-lock-test";
    {
        InstanceLock first;
        ASSERT_EQ(first.TryAcquire(name, install.path()), InstanceClaim::Held);
        EXPECT_EQ(first.TryAcquire(name, install.path()), InstanceClaim::Held);
        InstanceLock second;
        EXPECT_EQ(second.TryAcquire(name, install.path()), InstanceClaim::HeldElsewhere);
        EXPECT_FALSE(second.Held());
    }
    InstanceLock next;
    EXPECT_EQ(next.TryAcquire(name, install.path()), InstanceClaim::Held);
    EXPECT_EQ(next.Where(), runtime / (name + ".lock"));
    // A runtime folder others may write into is not trusted: the install
    // folder, made when missing, holds the lock instead.
    InstanceLock other;
    ASSERT_EQ(::chmod(runtime.path().c_str(), 0777), 0);
    EXPECT_EQ(other.TryAcquire("talmira-lock-test-2", install / "QAVEX"), InstanceClaim::Held);
    EXPECT_EQ(other.Where(), install / "QAVEX/talmira-lock-test-2.lock");
    ::chmod(runtime.path().c_str(), 0700);
    unsetenv("XDG_RUNTIME_DIR");
}

}  // namespace
