#include "registry/posix/reg_tree.h"

#include "registry/reg_text.h"

namespace qmos::reg {

RegNode* RegNode::Child(std::string_view name) const {
  const auto it = childIndex_.find(FoldName(name));
  return it == childIndex_.end() ? nullptr : it->second->get();
}

const RegValue* RegNode::Value(std::string_view name) const {
  const auto it = valueIndex_.find(FoldName(name));
  return it == valueIndex_.end() ? nullptr : &it->second->second;
}

std::size_t RegNode::CountBelow() const {
  // Iterative, so that deep trees cannot exhaust the stack.
  std::size_t count = 0;
  std::vector<const RegNode*> pending{this};
  while (!pending.empty()) {
    const RegNode* node = pending.back();
    pending.pop_back();
    count += node->values_.size() + node->children_.size();
    for (const auto& child : node->children_) pending.push_back(child.get());
  }
  return count;
}

RegNode& RegNode::AddChild(std::string name) {
  std::string folded = FoldName(name);
  children_.push_back(std::make_unique<RegNode>(std::move(name)));
  childIndex_.emplace(std::move(folded), std::prev(children_.end()));
  return *children_.back();
}

std::unique_ptr<RegNode> RegNode::TakeChild(std::string_view name) {
  const auto it = childIndex_.find(FoldName(name));
  if (it == childIndex_.end()) return nullptr;
  std::unique_ptr<RegNode> child = std::move(*it->second);
  children_.erase(it->second);
  childIndex_.erase(it);
  return child;
}

bool RegNode::SetValue(std::string_view name, const RegValue& value) {
  std::string folded = FoldName(name);
  const auto it = valueIndex_.find(folded);
  if (it != valueIndex_.end()) {
    it->second->second = value;
    return false;
  }
  values_.emplace_back(std::string(name), value);
  valueIndex_.emplace(std::move(folded), std::prev(values_.end()));
  return true;
}

bool RegNode::RemoveValue(std::string_view name) {
  const auto it = valueIndex_.find(FoldName(name));
  if (it == valueIndex_.end()) return false;
  values_.erase(it->second);
  valueIndex_.erase(it);
  return true;
}

RegTree::RegTree() = default;

RegNode& RegTree::Hive(RegRoot root) {
  return root == RegRoot::CurrentUser ? currentUser_ : localMachine_;
}

const RegNode& RegTree::Hive(RegRoot root) const {
  return root == RegRoot::CurrentUser ? currentUser_ : localMachine_;
}

const RegNode* RegTree::Find(RegRoot root, const KeyPath& path) const {
  const RegNode* node = &Hive(root);
  for (const std::string& part : path) {
    node = node->Child(part);
    if (node == nullptr) return nullptr;
  }
  return node;
}

RegNode* RegTree::Find(RegRoot root, const KeyPath& path) {
  return const_cast<RegNode*>(std::as_const(*this).Find(root, path));
}

RegNode* RegTree::Ensure(RegRoot root, const KeyPath& path) {
  RegNode* node = &Hive(root);
  for (const std::string& part : path) {
    RegNode* child = node->Child(part);
    if (child == nullptr) {
      if (items_ >= kMaxItems) return nullptr;
      child = &node->AddChild(part);
      ++items_;
    }
    node = child;
  }
  return node;
}

bool RegTree::Remove(RegRoot root, const KeyPath& path) {
  if (path.empty()) return false;
  KeyPath parentPath(path.begin(), path.end() - 1);
  RegNode* parent = Find(root, parentPath);
  if (parent == nullptr) return false;
  std::unique_ptr<RegNode> removed = parent->TakeChild(path.back());
  if (!removed) return false;
  items_ -= 1 + removed->CountBelow();
  // Free the subtree from the leaves up, without recursion.
  std::vector<std::unique_ptr<RegNode>> pending;
  pending.push_back(std::move(removed));
  while (!pending.empty()) {
    std::unique_ptr<RegNode> node = std::move(pending.back());
    pending.pop_back();
    for (auto& child : node->children_) pending.push_back(std::move(child));
  }
  return true;
}

bool RegTree::SetValue(RegNode& key, std::string_view name, const RegValue& value) {
  if (key.Value(name) == nullptr && items_ >= kMaxItems) return false;
  if (key.SetValue(name, value)) ++items_;
  return true;
}

bool RegTree::RemoveValue(RegNode& key, std::string_view name) {
  if (!key.RemoveValue(name)) return false;
  --items_;
  return true;
}

std::size_t RegTree::ClearValues(RegNode& key) {
  const std::size_t count = key.values_.size();
  key.values_.clear();
  key.valueIndex_.clear();
  items_ -= count;
  return count;
}

bool RegTree::Apply(const std::vector<RegKeyOp>& ops, std::string& error) {
  for (const RegKeyOp& op : ops) {
    if (op.remove) {
      Remove(op.root, op.path);
      continue;
    }
    RegNode* key = Ensure(op.root, op.path);
    bool ok = key != nullptr;
    for (const RegValueOp& value : op.values) {
      if (!ok) break;
      if (value.value) {
        ok = SetValue(*key, value.name, *value.value);
      } else {
        RemoveValue(*key, value.name);
      }
    }
    if (!ok) {
      error = "line " + std::to_string(op.line) + ": too many keys and values (limit " +
              std::to_string(kMaxItems) + ")";
      return false;
    }
  }
  return true;
}

void FormatKeyTree(const RegNode& node, const std::string& fullName, bool withSelf,
                   std::string& out) {
  // Depth-first, parents before children, without recursion.
  struct Pending {
    const RegNode* node;
    std::string name;
    bool write;
  };
  std::vector<Pending> stack;
  stack.push_back({&node, fullName, withSelf || !node.Values().empty()});
  while (!stack.empty()) {
    Pending item = std::move(stack.back());
    stack.pop_back();
    if (item.write) AppendKeyBlock(item.name, item.node->Values(), out);
    const auto& children = item.node->Children();
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
      stack.push_back({it->get(), item.name + "\\" + (*it)->Name(), true});
    }
  }
}

}  // namespace qmos::reg
