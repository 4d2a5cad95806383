#include "boot/image_start.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <variant>
#include <vector>

#include "boot/boot.h"
#include "boot/heap_image.h"
#include "platform/os.h"
#include "platform/virtual_memory.h"
#include "runtime/collector.h"
#include "runtime/image_state.h"

namespace oka::boot {

namespace {

heap_image::Stamp this_build() {
    return {platform::program_build_id(), platform::page_size(), platform::kSpaceAddress};
}

// A file mapped read-only, whole, for as long as this lives.
class MappedFile {
public:
    explicit MappedFile(const std::string& path) : fd_(open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
        struct stat about;
        if (fd_ < 0 || fstat(fd_, &about) != 0 || about.st_size == 0) return;
        void* at = mmap(nullptr, size_t(about.st_size), PROT_READ, MAP_PRIVATE, fd_, 0);
        if (at != MAP_FAILED) bytes_ = {static_cast<const uint8_t*>(at), size_t(about.st_size)};
    }
    ~MappedFile() {
        if (!bytes_.empty()) munmap(const_cast<uint8_t*>(bytes_.data()), bytes_.size());
        if (fd_ >= 0) close(fd_);
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    bool opened() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    std::span<const uint8_t> bytes() const { return bytes_; }

private:
    int fd_;
    std::span<const uint8_t> bytes_;
};

void refuse(const std::string& reason) {
    std::string line = heap_image::refusal_line(reason);
    std::fputs(line.c_str(), stderr);
}

constexpr size_t kLargePage = size_t(2) << 20;  // the large page of x86-64 and of most arm64 systems

size_t round_up(size_t bytes, size_t unit) { return (bytes + unit - 1) / unit * unit; }

// The image's pages read from its file into memory of their own, on large pages where the system has
// them (see platform::adopt_ranges), for as long as this lives: checked there before anything of the
// language memory is given up for them.
class ImagePages {
public:
    ImagePages(int fd, const heap_image::Contents& contents) {
        size_t size = round_up(contents.page_bytes, kLargePage) + kLargePage;
        void* mapped = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (mapped == MAP_FAILED) return;
        mapped_ = {static_cast<uint8_t*>(mapped), size};
        auto* at = reinterpret_cast<uint8_t*>(round_up(reinterpret_cast<uintptr_t>(mapped), kLargePage));
        madvise(at, round_up(contents.page_bytes, kLargePage), MADV_HUGEPAGE);
        size_t done = 0;
        while (done < contents.page_bytes) {
            ssize_t got = pread(fd, at + done, contents.page_bytes - done, off_t(contents.pages_at + done));
            if (got <= 0) return;
            done += size_t(got);
        }
        bytes_ = {at, done};
    }
    ~ImagePages() {
        if (!mapped_.empty()) munmap(mapped_.data(), mapped_.size());
    }
    ImagePages(const ImagePages&) = delete;
    ImagePages& operator=(const ImagePages&) = delete;

    std::span<const uint8_t> bytes() const { return bytes_; }

private:
    std::span<uint8_t> mapped_;
    std::span<const uint8_t> bytes_;
};

// The image's ranges, and its runs of pages as they lie in `pages`, run after run.
bool adopt_image(const heap_image::Contents& contents, std::span<const uint8_t> pages) {
    std::vector<platform::CommittedRange> ranges;
    for (const heap_image::Range& r : contents.ranges) ranges.push_back({r.offset, r.bytes});
    std::vector<platform::PageRun> runs;
    const uint8_t* from = pages.data();
    for (const heap_image::Range& r : contents.runs) {
        runs.push_back({r.offset, r.bytes, from});
        from += r.bytes;
    }
    return platform::adopt_ranges(ranges, runs);
}

}  // namespace

std::string heap_image_path() { return platform::program_path() + ".heap"; }

std::string write_heap_image(const std::string& path) {
    if (platform::program_build_id() == 0) return "no heap image: the program has no build ID to stamp it with";
    collector::do_cycle();
    std::vector<image_state::Bytes> saved = image_state::save();
    std::vector<std::span<const uint8_t>> pieces(saved.begin(), saved.end());
    std::vector<heap_image::Range> ranges;
    for (const platform::CommittedRange& r : platform::committed_ranges()) ranges.push_back({r.offset, r.bytes});
    std::vector<uint8_t> image =
        heap_image::write(this_build(), ranges, reinterpret_cast<const uint8_t*>(platform::kSpaceAddress), pieces);
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return "cannot write " + path;
    bool written = std::fwrite(image.data(), 1, image.size(), file) == image.size();
    written = std::fclose(file) == 0 && written;
    return written ? "" : "cannot write " + path;
}

bool start_from_heap_image() {
    const char* wanted = platform::get_env("OKA_HEAP_IMAGE");
    if (wanted && std::strcmp(wanted, "off") == 0) return false;
    MappedFile file(heap_image_path());
    if (!file.opened() || platform::program_build_id() == 0) return false;
    auto checked = heap_image::check(file.bytes(), this_build());
    if (auto* reason = std::get_if<std::string>(&checked)) {
        refuse(*reason);
        return false;
    }
    const auto& contents = std::get<heap_image::Contents>(checked);
    if (!image_state::fits(contents.pieces)) {
        refuse("its C++ state is laid out otherwise");
        return false;
    }
    ImagePages pages(file.fd(), contents);
    std::string damage = heap_image::check_pages(contents, pages.bytes());
    if (!damage.empty()) {
        refuse(damage);
        return false;
    }
    if (!adopt_image(contents, pages.bytes())) {
        // The memory runtime::init made is gone with the ranges it had: nothing is left to go on from.
        std::fputs("*** Heap image could not be mapped\n", stderr);
        std::_Exit(94);
    }
    image_state::restore(contents.pieces);
    install_routine_tables();
    return true;
}

}  // namespace oka::boot
