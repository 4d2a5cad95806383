// The natives of files and paths: to-local-file, the system form of a path, and size?, a file's size.
#include "datatypes/file.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "evaluator/refinements.h"
#include "platform/files.h"
#include "runtime/stack.h"
#include "services/natives.h"
#include "services/simple_io.h"

namespace oka::natives {

void to_local_file_s(const int32_t* positions) {
    bool full = Refinements<to_local_file_slot>(positions).given("full");
    Cell* path = stack::arguments();
    Cell* local = string::rs_make_at(stack::push_next(), string::rs_length_q(*path));
    file::to_local(*path, local, full);
    stack::set_last(*local);
}

// The size in bytes of a file that can be opened for reading; none for a folder or anything else.
void size_q_s(const int32_t*) {
    Cell* file = stack::arguments();
    std::optional<std::string> path = simple_io::dir_q(*file) ? std::nullopt : file::os_path(*file);
    int64_t size = path ? platform::size_of(path->c_str()) : -1;
    if (size < 0)
        none::box();
    else
        make_size_at(file, uint64_t(size));
}

}  // namespace oka::natives
