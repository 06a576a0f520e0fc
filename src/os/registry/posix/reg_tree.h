// The registry in memory: two hives (HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER) of
// keys that hold subkeys and values. Names match without regard to case and keep
// their original case; subkeys and values keep their creation order.
#pragma once

#include <cstddef>
#include <list>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "qmos/registry.h"
#include "registry/reg_path.h"

namespace qmos::reg {

struct RegKeyOp;

class RegNode {
 public:
  using ChildList = std::list<std::unique_ptr<RegNode>>;
  using ValueList = std::list<std::pair<std::string, RegValue>>;

  explicit RegNode(std::string name) : name_(std::move(name)) {}
  RegNode(const RegNode&) = delete;
  RegNode& operator=(const RegNode&) = delete;

  const std::string& Name() const { return name_; }
  const ChildList& Children() const { return children_; }
  const ValueList& Values() const { return values_; }

  RegNode* Child(std::string_view name) const;
  const RegValue* Value(std::string_view name) const;

  // Subkeys and values of this key's subtree, the key itself not counted.
  std::size_t CountBelow() const;

 private:
  friend class RegTree;
  RegNode& AddChild(std::string name);
  std::unique_ptr<RegNode> TakeChild(std::string_view name);
  bool SetValue(std::string_view name, const RegValue& value);  // true when new
  bool RemoveValue(std::string_view name);

  std::string name_;
  ChildList children_;
  std::unordered_map<std::string, ChildList::iterator> childIndex_;
  ValueList values_;
  std::unordered_map<std::string, ValueList::iterator> valueIndex_;
};

// Both hives and a count of their keys and values, capped so that no input can
// make the registry grow without bound.
class RegTree {
 public:
  static constexpr std::size_t kMaxItems = 1'000'000;

  RegTree();

  RegNode& Hive(RegRoot root);  // LocalMachine or CurrentUser
  const RegNode& Hive(RegRoot root) const;

  const RegNode* Find(RegRoot root, const KeyPath& path) const;
  RegNode* Find(RegRoot root, const KeyPath& path);
  // Finds or creates the key and its missing parents. Nothing when the item cap
  // would be passed.
  RegNode* Ensure(RegRoot root, const KeyPath& path);
  bool Remove(RegRoot root, const KeyPath& path);  // false when missing or a hive
  bool SetValue(RegNode& key, std::string_view name, const RegValue& value);  // false: cap
  bool RemoveValue(RegNode& key, std::string_view name);  // false when missing
  std::size_t ClearValues(RegNode& key);

  // Applies parsed operations in order. False (with the tree partly changed) when
  // the item cap is passed; callers then drop the tree.
  bool Apply(const std::vector<RegKeyOp>& ops, std::string& error);

  std::size_t Items() const { return items_; }

 private:
  RegNode localMachine_{"HKEY_LOCAL_MACHINE"};
  RegNode currentUser_{"HKEY_CURRENT_USER"};
  std::size_t items_ = 0;
};

// Every key of the subtree at node as .reg text (see AppendKeyBlock), node itself
// included when it has values or withSelf is set. Keys are written in creation
// order, parents before children.
void FormatKeyTree(const RegNode& node, const std::string& fullName, bool withSelf,
                   std::string& out);

}  // namespace qmos::reg
