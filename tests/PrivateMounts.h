// Tests that mount file systems for real, in a mount namespace of the test process's own, so
// nothing they mount is seen outside it and everything goes when the process ends. A machine
// that grants no such namespace (no privilege to unshare) skips them with the reason.
//
// A share is imitated by a small tmpfs mounted under the share's name: the kernel's mount table
// then lists it with that source, which is all the network-path code reads of a share.
#pragma once

#include "tests/TempDir.h"

#include <cerrno>
#include <cstring>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <vector>

namespace tarvok::testing_support {

class PrivateMountsTest : public TempDirTest {
protected:
    static void SetUpTestSuite() { Refusal() = EnterPrivateMounts(); }

    void SetUp() override {
        if (!Refusal().empty()) {
            GTEST_SKIP() << "no private mount namespace here: " << Refusal();
        }
        TempDirTest::SetUp();
    }

    void TearDown() override {
        for (auto it = mounted_.rbegin(); it != mounted_.rend(); ++it) {
            ::umount2(it->c_str(), MNT_DETACH);
        }
        mounted_.clear();
        TempDirTest::TearDown();
    }

    // A tmpfs at the mount point (made if missing) that the table lists as the share.
    void MountShare(const std::string& share, const std::string& mountPoint) {
        std::filesystem::create_directories(mountPoint);
        Mount(share.c_str(), mountPoint, "tmpfs", 0, "size=1m");
    }
    void Bind(const std::string& from, const std::string& to) {
        std::filesystem::create_directories(to);
        Mount(from.c_str(), to, nullptr, MS_BIND, nullptr);
    }
    void Unmount(const std::string& mountPoint) {
        ASSERT_EQ(::umount2(mountPoint.c_str(), 0), 0)
            << mountPoint << ": " << std::strerror(errno);
        std::erase(mounted_, mountPoint);
    }

private:
    static std::string& Refusal() {
        static std::string refusal;
        return refusal;
    }

    // Mounts made afterwards stay in this process's namespace: none propagates back out.
    static std::string EnterPrivateMounts() {
        if (::unshare(CLONE_NEWNS) != 0) {
            return std::string("unshare: ") + std::strerror(errno);
        }
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            return std::string("making / private: ") + std::strerror(errno);
        }
        return {};
    }

    void Mount(const char* source, const std::string& target, const char* type, unsigned long flags,
               const char* data) {
        ASSERT_EQ(::mount(source, target.c_str(), type, flags, data), 0)
            << target << ": " << std::strerror(errno);
        mounted_.push_back(target);
    }

    std::vector<std::string> mounted_;
};

} // namespace tarvok::testing_support
