// The memory figures on recorded texts of the kernel's files, the huge-page decision, and the
// prefault of the host's output.
#include <chrono>
#include <map>
#include <thread>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include <gtest/gtest.h>

#include "platform/MemoryAdmission.h"
#include "platform/PageRange.h"
#include "platform/StoragePrefault.h"

using Files = std::map<std::string, std::string>;
Files with(Files files, Files changes) {  // changes win
  changes.merge(files);
  return changes;
}

TEST(MemoryAdmissionTest, TheTightestOfMemAvailableAndEveryCgroupLevel) {
  const Files none = {{"/proc/meminfo", "MemTotal: 24683784 kB\nMemAvailable:  1000000 kB\n"},
                      {"/proc/self/cgroup", "2:cpu:/x\n0::/\n"},
                      {"/proc/self/mountinfo",
                       "34 31 0:31 / /cg/cpu rw - cgroup cgroup rw,cpu\n"
                       "35 31 0:32 / /cg/mem rw - cgroup cgroup rw,memory\n"
                       "41 31 0:38 /ns /cg2 rw - cgroup2 cgroup2 rw\n"}};
  const Files v1 =
      with(none, {{"/proc/self/cgroup", "2:cpu:/x\n4:blkio,memory:/a/b\n0::/\n"},
                  {"/cg/mem/a/b/memory.limit_in_bytes", "300000000\n"},
                  {"/cg/mem/a/b/memory.usage_in_bytes", "100000000\n"},
                  {"/cg/mem/a/b/memory.stat", "inactive_file 7\ntotal_inactive_file 1000"},
                  {"/cg/mem/a/memory.limit_in_bytes", "9223372036854771712\n"},
                  {"/cg/mem/a/memory.usage_in_bytes", "250000000\n"}});
  const Files v2 = with(none, {{"/proc/self/cgroup", "1:name=systemd:/ns/x\n0::/ns/a/b\n"},
                               {"/cg2/a/b/memory.max", "max\n"},
                               {"/cg2/a/b/memory.current", "1"},
                               {"/cg2/a/memory.max", "5000"},
                               {"/cg2/a/memory.current", "4000"},
                               {"/cg2/a/memory.stat", "anon 1\ninactive_file 4500\n"},
                               {"/cg2/memory.max", "9000"},
                               {"/cg2/memory.current", "1"}});
  const std::pair<Files, std::optional<std::uint64_t>> cases[] = {
      {{}, std::nullopt},
      {none, 1024000000},  // MemAvailable's kB
      {v1, 200001000},     // total_inactive_file counted, the unlimited parent not limiting
      {with(v1, {{"/cg/mem/a/b/memory.stat", "inactive_file 7\n"}}), 200000007},
      {with(v1, {{"/cg/mem/a/b/memory.usage_in_bytes", "400000000\n"}}), 0},
      {with(none, {{"/proc/self/cgroup", "4:memory:/\n"},
                   {"/cg/mem/memory.limit_in_bytes", "5"},
                   {"/cg/mem/memory.usage_in_bytes", "0"}}),
       5},
      {v2, 5000},  // the parent's limit, its page cache beyond its usage
      {with(v2, {{"/cg2/memory.current", "7000"}}), 2000}};  // the mount's root, a container's own
  const auto reader = [](const Files& files) {
    return [&files](const std::string& path) {
      const auto file = files.find(path);
      return file == files.end() ? std::nullopt : std::optional(file->second);
    };
  };
  for (const auto& [files, expected] : cases)
    EXPECT_EQ(availableMemoryFrom(reader(files)), expected);
  // ulimit -v and -d: each limit less what the process already has; the tightest figure holds.
  const Files status =
      with(v1, {{"/proc/self/status", "VmPeak: 1 kB\nVmSize:\t 100 kB\nVmData: 40 kB\n"}});
  const std::pair<ProcessLimits, std::uint64_t> limited[] = {
      {{1000000, std::nullopt}, 1000000 - 102400},
      {{std::nullopt, 50000}, 50000 - 40960},
      {{1000000, 50000}, 50000 - 40960},
      {{1u << 30, std::nullopt}, 200001000},
      {{50000, std::nullopt}, 0}};
  // A status without the figures (a kernel that does not show them): the limit counts whole.
  EXPECT_EQ(availableMemoryFrom(reader(with(v1, {{"/proc/self/status", "VmPeak: 1 kB\n"}})),
                                {1000000, 50000}),
            50000u);
  for (const auto& [limits, expected] : limited)
    EXPECT_EQ(availableMemoryFrom(reader(status), limits), expected);
  EXPECT_TRUE(memoryAdmitsWithin(~0ull, std::nullopt));  // and a reserve of 32 MiB:
  EXPECT_TRUE(memoryAdmitsWithin(100, (32 << 20) + 100));
  EXPECT_FALSE(memoryAdmitsWithin(101, (32 << 20) + 100));
  EXPECT_TRUE(memoryAdmitsWithin(0, 32 << 20));
  EXPECT_FALSE(memoryAdmitsWithin(0, (32 << 20) - 1));
}

TEST(MemoryAdmissionTest, HugePagesOnlyWhenFreeRightNowWithASpareOf32) {
  EXPECT_TRUE(wholePagesWithin(4096, 4096, 4096).first == 4096 &&
              wholePagesWithin(4097, 8192, 4096).first == 8192 &&
              wholePagesWithin(4097, 8192, 4096).last == 12288 &&
              wholePagesWithin(4097, 100, 4096).last == 8192);
  // Order 9 and 10 blocks: DMA 1 + 3 * 2, Normal 10 + 17 * 2: 51 huge pages; order 8 none.
  const char* buddyinfo =
      "Node 0, zone DMA 0 0 0 0 0 0 0 0 1 1 3 \n"
      "Node 0, zone   Normal      5    195   1721   4943   2561   1064    372"
      "    152     43     10     17 \n";
  const std::string madvise = "always [madvise] never\n";
  EXPECT_TRUE(hugePagesAreFree(buddyinfo, madvise, false, 19));
  EXPECT_FALSE(hugePagesAreFree(buddyinfo, madvise, false, 20));
  EXPECT_FALSE(hugePagesAreFree(buddyinfo, madvise, true, 0));  // taken back by the hypervisor
  EXPECT_TRUE(hugePagesAreFree(buddyinfo, "[always] madvise never\n", false, 19));
  EXPECT_FALSE(hugePagesAreFree(buddyinfo, "always madvise [never]\n", false, 0));
  EXPECT_FALSE(hugePagesAreFree(buddyinfo, "", false, 0));  // no transparent huge pages
  const char* balloonFeatures = "0110010100000000000000000000000010000000\n";  // bits 1, 2, 5
  EXPECT_TRUE(reportsFreePages("0x0005\n", balloonFeatures));
  EXPECT_FALSE(reportsFreePages("0x0005\n", "0110000100000000000000000000000010000000\n"));
  EXPECT_FALSE(reportsFreePages("0x0002\n", balloonFeatures));  // a block device
  EXPECT_FALSE(reportsFreePages("0x0005\n", "0110"));
}

#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
// Untouched anonymous mappings, as a large output comes from malloc: while the prefault lives,
// every whole page of each block gets mapped in, slice by slice, the largest block's last too.
TEST(MemoryAdmissionTest, PrefaultMapsInEveryWholePageOfEachBlock) {
  const std::size_t page = 4096, sizes[] = {(24u << 20) + 3 * page, 3u << 20};
  void* probe = mmap(nullptr, page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(probe, MAP_FAILED);
  const bool populates = madvise(probe, page, MADV_POPULATE_WRITE) == 0;
  munmap(probe, page);
  if (!populates) GTEST_SKIP() << "the kernel refuses MADV_POPULATE_WRITE";
  std::vector<StoragePrefault::Block> blocks;
  for (const std::size_t bytes : sizes) {
    void* map = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(map, MAP_FAILED);
    ASSERT_EQ(madvise(map, bytes, MADV_NOHUGEPAGE), 0);  // no collapse fills the pages in
    blocks.push_back({static_cast<char*>(map) + 100, bytes - 100});  // page 0 is not whole
  }
  const auto missing = [&] {
    std::size_t pages = 0;
    for (std::size_t b = 0; b < blocks.size(); ++b) {
      std::vector<unsigned char> resident(sizes[b] / page);
      mincore(static_cast<char*>(blocks[b].data) - 100, sizes[b], resident.data());
      for (std::size_t p = 1; p < resident.size(); ++p) pages += (resident[p] & 1) == 0;
    }
    return pages;
  };
  ASSERT_GT(missing(), 0u);
  {
    const StoragePrefault prefault(blocks);
    // Done within milliseconds; the deadline only bounds a prefault that leaves pages out.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (missing() > 0 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(missing(), 0u);
  }
  for (std::size_t b = 0; b < blocks.size(); ++b)
    munmap(static_cast<char*>(blocks[b].data) - 100, sizes[b]);
}
#endif
