#include "lockfile/document_view.hpp"

#include <utility>

namespace morvane::lockfile {
namespace {

std::optional<TextList> list_of(const DocumentView& view, const TextRange& range) {
  if (!range.present) return std::nullopt;
  const auto texts = view.list(range);
  return TextList(texts.begin(), texts.end());
}

TextRange range_of(DocumentView& view, const std::optional<TextList>& list) {
  if (!list) return TextRange{};
  const std::size_t first = view.texts.size();
  view.texts.insert(view.texts.end(), list->begin(), list->end());
  return TextRange{first, list->size(), true};
}

}  // namespace

Lockfile to_records(const DocumentView& view) {
  std::vector<SortedMap<LockEntry>::Entry> skills;
  skills.reserve(view.skills.size());
  for (const EntryView& e : view.skills) {
    LockEntry entry;
    entry.resolved = e.resolved;
    entry.integrity = e.integrity;
    const PermissionsView& p = e.permissions;
    if (p.network) entry.permissions.network.emplace().outbound = list_of(view, p.outbound);
    if (p.filesystem) {
      auto& fs = entry.permissions.filesystem.emplace();
      fs.read = list_of(view, p.read);
      fs.write = list_of(view, p.write);
    }
    entry.permissions.subprocess = p.subprocess;
    entry.audit_score = e.audit_score;
    const auto deps = view.dependencies_of(e);
    std::vector<SortedMap<std::string>::Entry> members;
    members.reserve(deps.size());
    for (const auto& [name, range] : deps) members.emplace_back(name, range);
    entry.dependencies = SortedMap<std::string>::from_sorted(std::move(members));
    skills.emplace_back(e.name, std::move(entry));
  }
  Lockfile doc;
  doc.lockfileVersion = view.lockfileVersion;
  doc.skills = SortedMap<LockEntry>::from_sorted(std::move(skills));
  return doc;
}

DocumentView view_of(const Lockfile& lockfile) {
  DocumentView view;
  view.lockfileVersion = lockfile.lockfileVersion;
  view.skills.reserve(lockfile.skills.size());
  for (const auto& [name, entry] : lockfile.skills) {
    EntryView& e = view.skills.emplace_back();
    e.name = name;
    e.resolved = entry.resolved;
    e.integrity = entry.integrity;
    const Permissions& p = entry.permissions;
    if (p.network) {
      e.permissions.network = true;
      e.permissions.outbound = range_of(view, p.network->outbound);
    }
    if (p.filesystem) {
      e.permissions.filesystem = true;
      e.permissions.read = range_of(view, p.filesystem->read);
      e.permissions.write = range_of(view, p.filesystem->write);
    }
    e.permissions.subprocess = p.subprocess;
    e.audit_score = entry.audit_score;
    e.first_dependency = view.dependencies.size();
    e.dependency_count = entry.dependencies.size();
    for (const auto& [dep, range] : entry.dependencies) view.dependencies.emplace_back(dep, range);
  }
  return view;
}

}  // namespace morvane::lockfile
