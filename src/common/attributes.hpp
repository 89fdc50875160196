// Extended attributes of open files: POSIX ACLs, security labels, user.*
// attributes and whatever else the file system keeps beside the content.
#pragma once

namespace morvane {

// Gives the file open as `to` exactly the extended attributes of the file open
// as `from`: each of `from`'s is set on `to` (unless `to` already has it with
// the same value, as a label or ACL inherited at creation may be), and each
// that `to` has beyond them is removed. False when that cannot be done: an
// attribute that cannot be listed, read, set or removed (not permitted, not
// supported by the new file's file system, too large); `to` may then hold
// some of them, and should be dropped. A file system without extended
// attributes has none to copy. On macOS the ACL, which the attribute list
// does not show, is copied as well. On other systems (the BSDs), whose
// attributes and ACLs this code cannot see, always false, so that the file
// is written in place. Everywhere the rule is: everything is copied, or false.
bool copy_attributes(int from, int to);

}  // namespace morvane
