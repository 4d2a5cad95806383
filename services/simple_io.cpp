#include "services/simple_io.h"

#include <errno.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/file.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/unset.h"
#include "platform/files.h"
#include "runtime/collector.h"
#include "runtime/dispatch.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/types.h"
#include "runtime/unicode.h"

namespace oka::simple_io {

namespace {

constexpr int64_t kLargest = kLargestSeries;

// Closes the file on every way out.
class OpenFile {
public:
    explicit OpenFile(int fd) : fd_(fd) {}
    ~OpenFile() {
        if (fd_ >= 0) platform::close_file(fd_);
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    int fd() const { return fd_; }

private:
    int fd_;
};

[[noreturn]] void cannot_open(const Cell& file) { fire(Err::access_cannot_open, &file); }

// The path of a file or string as the system takes it; a path that cannot be one cannot be opened.
std::string path_of(const Cell& file) {
    std::optional<std::string> path = file::os_path(file);
    if (!path) cannot_open(file);
    return *path;
}

// A /part or /seek argument: -1 without it, else its integer, which may not be negative.
int64_t count_of(const char* refinement, const Cell* argument) {
    if (!argument) return -1;
    if (!argument->is(Type::Integer) || integer::get(*argument) < 0) error::fire_refinement(refinement, argument);
    return integer::get(*argument);
}

// True when every byte is below 128, read eight at a time.
bool ascii_q(const uint8_t* bytes, size_t length) {
    uint64_t seen = 0;
    size_t i = 0;
    for (uint64_t word; i + sizeof word <= length; i += sizeof word) {
        std::memcpy(&word, bytes + i, sizeof word);
        seen |= word;
    }
    for (; i < length; i++) seen |= bytes[i];
    return (seen & 0x8080808080808080) == 0;
}

// ---- reading ----

// Appends a value of `type` holding the text of UTF-8 bytes to a block on the data stack. Invalid UTF-8,
// a sequence cut short at the end included, raises access invalid-utf8.
void append_text(const Cell& block, const uint8_t* bytes, uint32_t length, Type type) {
    Node into = block.node();
    uint32_t index = mem::buffer(into)->length();
    alloc::alloc_tail_cell(into);  // first, so that the text, made last, is stored before anything collects
    uint32_t remaining = 0;
    Node node = unicode::load_utf8(bytes, length, 0, &remaining, false);
    mem::ptr<Cell>(mem::buffer(into)->offset)[index] = Cell::of(type).set_node(node);
    if (remaining > 0) error::fire_with_bytes(Err::access_invalid_utf8, bytes + length - remaining, remaining);
}

// A block of strings, one per line: a line ends at LF, a CR before the LF dropped; the text after the
// last LF is a last line when there is any.
// Every string made here is kept in the block, so a collection while the block fills could free none
// of them and would only trace and move those made so far; as one runs each time the frames fill, their
// cost would grow with the square of the number of lines. Collection waits until the block is whole.
const Cell* lines_to_block(const uint8_t* bytes, size_t length) {
    const uint8_t* end = bytes + length;
    size_t count = size_t(std::count(bytes, end, '\n')) + (length > 0 && end[-1] != '\n');
    Cell* lines = block::push_only_s(int32_t(count));
    collector::HeldOff held_off;
    for (const uint8_t* at = bytes; at < end;) {
        const uint8_t* line_feed = std::find(at, end, '\n');
        const uint8_t* line_end =
            line_feed < end && line_feed > at && line_feed[-1] == '\r' ? line_feed - 1 : line_feed;
        append_text(*lines, at, uint32_t(line_end - at), Type::String);
        at = line_feed < end ? line_feed + 1 : end;
    }
    return lines;
}

// Bytes read from a file, in a buffer that is not cleared first: a large file's pages are touched once,
// by the read itself.
class ReadBuffer {
public:
    // Room for `more` bytes after those held; where they go.
    uint8_t* room_for(size_t more) {
        if (size_ + more > capacity_) {
            capacity_ = std::max(size_ + more, 2 * capacity_);
            std::unique_ptr<uint8_t[]> larger(new uint8_t[capacity_]);
            if (size_ > 0) std::memcpy(larger.get(), data_.get(), size_);
            data_ = std::move(larger);
        }
        return data_.get() + size_;
    }
    void added(size_t count) { size_ += count; }
    const uint8_t* data() const { return data_.get(); }
    size_t size() const { return size_; }

private:
    std::unique_ptr<uint8_t[]> data_;
    size_t size_ = 0, capacity_ = 0;
};

// Reads up to `wanted` bytes: false when reading failed.
bool read_into(int fd, ReadBuffer& bytes, size_t wanted) {
    int64_t got = platform::read_data(fd, bytes.room_for(wanted), wanted);
    if (got < 0) return false;
    bytes.added(size_t(got));
    return true;
}

// Reads what is left, up to `limit` bytes in all, in blocks: false when reading failed.
bool read_to_end(int fd, ReadBuffer& bytes, size_t limit) {
    constexpr size_t kBlock = 65536;
    while (bytes.size() < limit) {
        size_t had = bytes.size(), asked = std::min(kBlock, limit - had);
        if (!read_into(fd, bytes, asked)) return false;
        if (bytes.size() - had < asked) break;  // the end
    }
    return true;
}

// Up to `count` bytes of an open file (fewer when it ends sooner) read straight into a new binary!, or
// into a new string! that is kept as it stands when they are ASCII; text beyond ASCII is decoded from a
// copy, as loading reads from outside the series. The bytes are checked a piece at a time, each while
// the read has just brought it into the cache. Nothing when reading fails.
const Cell* read_in_place(int fd, uint32_t count, bool binary) {
    constexpr uint32_t kPiece = 1 << 20;
    Cell* value = binary ? binary::make_at(stack::push_next(), count) : string::rs_make_at(stack::push_next(), count);
    BufPtr<uint8_t> bytes = alloc::alloc_tail_bytes(value->node(), count);
    uint32_t done = 0;
    bool ascii = true;
    while (done < count) {
        uint32_t asked = std::min(kPiece, count - done);
        int64_t got = platform::read_data(fd, bytes.get() + done, asked);
        if (got < 0) return nullptr;
        ascii = ascii && (binary || ascii_q(bytes.get() + done, size_t(got)));
        done += uint32_t(got);
        if (got < asked) break;  // the end
    }
    string::clip_tail(value, int32_t(done));
    if (binary || ascii) return value;
    ReadBuffer copy;
    std::memcpy(copy.room_for(done), bytes.get(), done);
    copy.added(done);
    stack::pop(1);
    return string::load_utf8_checked(copy.data(), uint32_t(copy.size()));
}

// A file that tells no size (a pipe, a file of /proc) is read once to its end, or to the seek position
// and `part` bytes more; the bytes before the seek position are then dropped.
const Cell* read_unsized(const Cell& source, int fd, int64_t part, int64_t skip, const ReadOptions& options) {
    ReadBuffer bytes;
    int64_t wanted = part >= 0 ? part : kLargest + 1;  // one byte more than a series holds tells too much
    if (!read_to_end(fd, bytes, size_t(skip + wanted))) cannot_open(source);
    size_t dropped = std::min(size_t(skip), bytes.size());
    return bytes_to_value(bytes.data() + dropped, bytes.size() - dropped, options.binary, options.lines);
}

// A file of known size is read from the seek position: at most `part` bytes when part is not negative,
// none from a position at or past the end.
const Cell* read_sized(const Cell& source, int fd, int64_t size, int64_t part, int64_t skip,
                       const ReadOptions& options) {
    int64_t left = std::max<int64_t>(size - skip, 0);
    int64_t count = part >= 0 ? std::min(part, left) : left;
    if (count > kLargest) fire(Err::internal_no_memory);
    if (count == 0) return bytes_to_value(nullptr, 0, options.binary, options.lines);
    if (skip > 0 && !platform::seek_file(fd, skip)) cannot_open(source);
    if (!options.lines) {
        const Cell* value = read_in_place(fd, uint32_t(count), options.binary);
        if (!value) cannot_open(source);
        return value;
    }
    ReadBuffer bytes;
    if (!read_into(fd, bytes, size_t(count))) cannot_open(source);
    return bytes_to_value(bytes.data(), bytes.size(), options.binary, options.lines);
}

// A name as a file! holds it: a byte that is not UTF-8 stands as its percent escape (%FF), which the
// lexer reads back as it stands, so that one odd name neither stops a listing nor shows as another.
std::string file_name_of(const std::string& bytes) {
    return unicode::replace_invalid_utf8(bytes, [](std::string& out, std::string_view invalid) {
        for (char byte : invalid) (out += '%') += string::byte_to_hex(uint8_t(byte));
    });
}

// A block of the folder's names as file! values.
const Cell* read_dir(const Cell& folder) {
    std::optional<std::vector<std::string>> names = platform::list_dir(path_of(folder).c_str());
    if (!names) cannot_open(folder);
    Cell* listing = block::push_only_s(int32_t(names->size()));
    for (const std::string& bytes : *names) {
        std::string name = file_name_of(bytes);
        append_text(*listing, reinterpret_cast<const uint8_t*>(name.data()), uint32_t(name.size()), Type::File);
    }
    return listing;
}

const Cell* read(Cell* source, const ReadOptions& options) {
    if (options.as) fire(Err::internal_not_done);
    int64_t part = count_of("part", options.part);
    int64_t seek = count_of("seek", options.seek);
    if (dir_q(*source)) return read_dir(*source);
    OpenFile file(platform::open_file(path_of(*source).c_str(), platform::kOpenRead));
    if (file.fd() < 0) cannot_open(*source);
    int64_t size = platform::file_size(file.fd());
    int64_t skip = std::max<int64_t>(seek, 0);
    if (size == 0) return read_unsized(*source, file.fd(), part, skip, options);
    return read_sized(*source, file.fd(), size, part, skip, options);
}

// ---- writing ----

// The bytes bound for a file, gathered in chunks so that many small values make few system calls.
class Output {
public:
    explicit Output(int fd) : fd_(fd) {}

    void add(const uint8_t* bytes, size_t length) {
        if (pending_.size() + length > kChunk) flush();
        if (length >= kChunk)
            send(bytes, length);
        else
            pending_.append(reinterpret_cast<const char*>(bytes), length);
    }
    // The UTF-8 form of the first `count` characters of a string from its head.
    void add_utf8(const Cell& text, uint32_t count) {
        string::Text view = string::text_of(text);
        const uint8_t* units = view.data.get();
        if (view.unit == 1 && ascii_q(units, count)) {
            add(units, count);
            return;
        }
        size_t size = unicode::utf8_size(units, units + size_t(count) * view.unit, view.unit);
        std::string utf8(size, '\0');
        unicode::to_utf8_buffer(&text, reinterpret_cast<uint8_t*>(utf8.data()), int32_t(count), false);
        add(reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size());
    }
    // 0 when every byte was written, else the errno of the failure.
    int finish() {
        flush();
        return error_;
    }

private:
    static constexpr size_t kChunk = size_t(1) << 20;

    void flush() {
        send(reinterpret_cast<const uint8_t*>(pending_.data()), pending_.size());
        pending_.clear();
    }
    void send(const uint8_t* bytes, size_t length) {
        if (!error_ && length > 0 && platform::write_data(fd_, bytes, length) < 0) error_ = errno;
    }

    int fd_;
    std::string pending_;
    int error_ = 0;  // the errno of the first write that failed
};

// The bytes of a value as a file holds it: a string's text as UTF-8, a binary's bytes, anything else
// molded; at most `part` characters (or bytes of a binary) when part is not negative. The value must be
// fixed: molding allocates.
void add_value(Output& out, Cell* value, int64_t part) {
    auto limited = [part](uint32_t length) { return part < 0 ? length : uint32_t(std::min<int64_t>(part, length)); };
    if (value->is(Type::Binary)) {
        string::Text bytes = string::text_of(*value);
        out.add(bytes.data.get(), limited(bytes.length));
        return;
    }
    if (value->is(Type::String)) {
        out.add_utf8(*value, limited(string::rs_length_q(*value)));
        return;
    }
    Cell* molded = string::rs_make_at(stack::push_next(), 64);
    actions::call<Act::mold>(value, molded, MoldOptions{}, std::numeric_limits<int32_t>::max(), 0);
    out.add_utf8(*molded, limited(string::rs_length_q(*molded)));
    stack::pop(1);
}

// With /lines, each value of a block is a line; any other value is one. A line ends with LF.
void add_lines(Output& out, const Cell& data, int64_t part) {
    static constexpr uint8_t kLineFeed = '\n';
    Cell* values = stack::push(data);
    for (uint32_t i = 0; values->is(Type::Block) && i < string::rs_length_q(*values); i++) {
        Cell* value = stack::push(*block::rs_abs_at(*values, values->head() + i));
        add_value(out, value, part);
        out.add(&kLineFeed, 1);
        stack::pop(1);
    }
    if (!values->is(Type::Block)) {
        add_value(out, values, part);
        out.add(&kLineFeed, 1);
    }
    stack::pop(1);
}

[[noreturn]] void cannot_write(const Cell& file, int error) {
    fire(Err::access_cannot_write, &file, reason_of(platform::error_text(error)));
}

// The value's bytes, or its lines, into an open file: 0, or the errno of the failure.
int write_value(int fd, Cell* data, int64_t part, bool lines) {
    Output out(fd);
    if (lines)
        add_lines(out, *data, part);
    else
        add_value(out, data, part);
    return out.finish();
}

// /append and /seek change the file where it stands.
void write_in_place(Cell* destination, Cell* data, int64_t part, int64_t seek, const WriteOptions& options) {
    uint32_t modes = platform::kOpenWrite | (options.append ? platform::kOpenAppend : platform::kOpenSeek);
    OpenFile file(platform::open_file(path_of(*destination).c_str(), modes));
    if (file.fd() < 0 || (seek > 0 && !platform::seek_file(file.fd(), seek)) ||
        (options.append && !platform::seek_end(file.fd())))
        cannot_write(*destination, errno);
    if (int error = write_value(file.fd(), data, part, options.lines)) cannot_write(*destination, error);
}

const Cell* write(Cell* destination, Cell* data, const WriteOptions& options) {
    if (options.allow || options.as) fire(Err::internal_not_done);
    int64_t part = count_of("part", options.part);
    int64_t seek = count_of("seek", options.seek);
    if (options.append || seek >= 0) {
        write_in_place(destination, data, part, seek, options);
        return &unset::value;
    }
    platform::NewFile file;
    int error = file.open(path_of(*destination).c_str());
    if (!error) error = write_value(file.fd(), data, part, options.lines);
    if (!error) error = file.finish();
    if (error) cannot_write(*destination, error);
    return &unset::value;
}

// ---- the other actions ----

// The time the file was last written, in UTC to the millisecond, or none.
const Cell* query(Cell* target) {
    std::optional<std::string> path = file::os_path(*target);
    std::optional<platform::FileTime> time = path ? platform::modified_time(path->c_str()) : std::nullopt;
    if (!time) return &none::value;
    double seconds = time->hour * 3600 + time->minute * 60 + time->second + time->nanoseconds / 1000000 / 1e3;
    return date::make_at(stack::push_next(), time->year, time->month, time->day, seconds, 0, true);
}

const Cell* delete_(Cell* target) {
    std::optional<std::string> path = file::os_path(*target);
    bool deleted =
        path && (dir_q(*target) ? platform::delete_dir(path->c_str()) : platform::delete_file(path->c_str()));
    return deleted ? &logic::true_value : &logic::false_value;
}

// The new name is a file! or any other text.
const Cell* rename(Cell* from, Cell* to) {
    if (!is_a(to->type(), TypeClass::any_string)) fire(Err::script_invalid_arg, to);
    std::optional<std::string> old_path = file::os_path(*from), new_path = file::os_path(*to);
    bool renamed = old_path && new_path && platform::rename_file(old_path->c_str(), new_path->c_str());
    return renamed ? &logic::true_value : &logic::false_value;
}

const ActionEntry kFileActions[] = {
    implements<Act::delete_>(delete_), implements<Act::query>(query), implements<Act::read>(read),
    implements<Act::rename>(rename),   implements<Act::write>(write),
};

}  // namespace

std::span<const ActionEntry> file_actions() { return kFileActions; }

const Cell* bytes_to_value(const uint8_t* bytes, size_t length, bool binary, bool lines) {
    if (length > size_t(kLargest)) fire(Err::internal_no_memory);
    if (binary) return binary::load(bytes, uint32_t(length));
    if (lines) return lines_to_block(bytes, length);
    return string::load_utf8_checked(bytes, uint32_t(length));
}

Cell* reason_of(const std::string& text) {
    std::string valid = unicode::valid_utf8(text);
    return string::load_utf8_checked(reinterpret_cast<const uint8_t*>(valid.data()), uint32_t(valid.size()));
}

bool dir_q(const Cell& path) {
    string::Text text = string::text_of(path);
    uint32_t n = text.length;
    if (n == 0) return false;
    if (text.at(n - 1) == '/') return true;
    if (text.at(n - 1) != '.') return false;
    // ".", "..", and a path that ends with "/." or "/.."
    if (n == 1 || text.at(n - 2) == '/') return true;
    return text.at(n - 2) == '.' && (n == 2 || text.at(n - 3) == '/');
}

}  // namespace oka::simple_io
