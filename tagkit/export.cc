// libtagkit.so is made of the layers' static libraries, linked whole; this
// translation unit only gives the shared library a source of its own.
namespace tagkit_detail {
int shared_library_anchor = 0;
}  // namespace tagkit_detail
