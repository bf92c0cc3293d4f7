#include "node_table.h"

#include <algorithm>

namespace nimbrel::platform::cf {

NodeTable::NodeTable(const struct stat& root) {
    Node& node = nodes_[FUSE_ROOT_ID];
    node.device = root.st_dev;
    node.inode = root.st_ino;
    // The kernel never forgets the root.
    node.lookups = 1;
    byFile_[{root.st_dev, root.st_ino}] = FUSE_ROOT_ID;
}

void NodeTable::linkLocked(Node& node, fuse_ino_t parent, const std::string& name) {
    auto same = std::find_if(node.links.begin(), node.links.end(),
                             [&](const Link& link) { return link.parent == parent && link.name == name; });
    if (same != node.links.end()) {
        std::rotate(same, same + 1, node.links.end());
        return;
    }
    node.links.push_back({parent, name});
    ++nodes_[parent].children;
}

fuse_ino_t NodeTable::remember(fuse_ino_t parent, const std::string& name, const struct stat& st) {
    std::lock_guard lock(mutex_);
    if (!nodes_.count(parent)) return 0;
    fuse_ino_t id = 0;
    if (auto found = byFile_.find({st.st_dev, st.st_ino}); found != byFile_.end()) {
        id = found->second;
    } else {
        id = next_++;
        Node& node = nodes_[id];
        node.device = st.st_dev;
        node.inode = st.st_ino;
        byFile_[{st.st_dev, st.st_ino}] = id;
    }
    Node& node = nodes_[id];
    ++node.lookups;
    if (id != FUSE_ROOT_ID) linkLocked(node, parent, name);
    return id;
}

void NodeTable::dropLocked(fuse_ino_t id) {
    std::vector<fuse_ino_t> candidates{id};
    while (!candidates.empty()) {
        const fuse_ino_t next = candidates.back();
        candidates.pop_back();
        auto found = nodes_.find(next);
        if (next == FUSE_ROOT_ID || found == nodes_.end() || found->second.lookups > 0 || found->second.children > 0) {
            continue;
        }
        for (const Link& link : found->second.links) {
            if (auto up = nodes_.find(link.parent); up != nodes_.end()) {
                --up->second.children;
                candidates.push_back(link.parent);
            }
        }
        byFile_.erase({found->second.device, found->second.inode});
        nodes_.erase(found);
    }
}

void NodeTable::forget(fuse_ino_t id, std::uint64_t lookups) {
    std::lock_guard lock(mutex_);
    auto found = nodes_.find(id);
    if (found == nodes_.end() || id == FUSE_ROOT_ID) return;
    found->second.lookups -= std::min(lookups, found->second.lookups);
    dropLocked(id);
}

std::optional<std::string> NodeTable::relativeLocked(fuse_ino_t id) const {
    std::string path;
    while (id != FUSE_ROOT_ID) {
        auto found = nodes_.find(id);
        if (found == nodes_.end() || found->second.links.empty()) return std::nullopt;
        const Link& link = found->second.links.back();
        path = path.empty() ? link.name : link.name + "/" + path;
        id = link.parent;
    }
    return path.empty() ? std::string(".") : path;
}

std::optional<std::string> NodeTable::relative(fuse_ino_t id) const {
    std::lock_guard lock(mutex_);
    return relativeLocked(id);
}

std::optional<std::string> NodeTable::relative(fuse_ino_t parent, const std::string& name) const {
    std::lock_guard lock(mutex_);
    auto path = relativeLocked(parent);
    if (!path) return std::nullopt;
    return *path == "." ? name : *path + "/" + name;
}

fuse_ino_t NodeTable::find(const struct stat& st) const {
    std::lock_guard lock(mutex_);
    auto found = byFile_.find({st.st_dev, st.st_ino});
    return found == byFile_.end() ? 0 : found->second;
}

void NodeTable::unlinked(fuse_ino_t parent, const std::string& name, const struct stat& st) {
    std::lock_guard lock(mutex_);
    auto found = byFile_.find({st.st_dev, st.st_ino});
    if (found == byFile_.end()) return;
    const fuse_ino_t id = found->second;
    auto& links = nodes_[id].links;
    auto gone = std::find_if(links.begin(), links.end(),
                             [&](const Link& link) { return link.parent == parent && link.name == name; });
    if (gone == links.end()) return;
    links.erase(gone);
    if (auto up = nodes_.find(parent); up != nodes_.end()) --up->second.children;
    dropLocked(parent);
    dropLocked(id);
}

void NodeTable::linked(fuse_ino_t parent, const std::string& name, const struct stat& st) {
    std::lock_guard lock(mutex_);
    auto found = byFile_.find({st.st_dev, st.st_ino});
    if (found == byFile_.end() || found->second == FUSE_ROOT_ID || !nodes_.count(parent)) return;
    linkLocked(nodes_[found->second], parent, name);
}

std::optional<CacheStamp> NodeTable::dataStamp(fuse_ino_t id) const {
    std::lock_guard lock(mutex_);
    auto found = nodes_.find(id);
    return found == nodes_.end() ? std::nullopt : found->second.data;
}

void NodeTable::setDataStamp(fuse_ino_t id, const CacheStamp& stamp) {
    std::lock_guard lock(mutex_);
    if (auto found = nodes_.find(id); found != nodes_.end()) found->second.data = stamp;
}

std::optional<CacheStamp> NodeTable::listingStamp(fuse_ino_t id) const {
    std::lock_guard lock(mutex_);
    auto found = nodes_.find(id);
    return found == nodes_.end() ? std::nullopt : found->second.listing;
}

void NodeTable::setListingStamp(fuse_ino_t id, const CacheStamp& stamp) {
    std::lock_guard lock(mutex_);
    if (auto found = nodes_.find(id); found != nodes_.end()) found->second.listing = stamp;
}

}  // namespace nimbrel::platform::cf
