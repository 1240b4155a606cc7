// The comparison of two models (model_diff.hpp).
#include "diff/model_diff.hpp"

#include <map>
#include <vector>

#include "diff/array_values.hpp"
#include "diff/history_compare.hpp"
#include "diff/node_compare.hpp"
#include "diff/view_compare.hpp"
#include "diff/walked_tree.hpp"
#include "kiv/mox/node.hpp"
#include "kiv/mox/tree.hpp"
#include "kiv/util/display_text.hpp"

namespace MoxDiff {

namespace {

// Two nodes at the same path, or a node on one side only (the other index kNone).
struct NodePair {
  std::size_t left = kNone, right = kNone;
};

// The node pairs in walk order: a pair's children pair up by position; children beyond
// the other side's count stand alone and their subtrees are not followed.
std::vector<NodePair> PairNodes(const WalkedTree& left, const WalkedTree& right) {
  std::vector<NodePair> pairs;
  std::vector<NodePair> stack = {{0, 0}};
  while (!stack.empty()) {
    const NodePair pair = stack.back();
    stack.pop_back();
    pairs.push_back(pair);
    if (pair.left == kNone || pair.right == kNone) continue;
    const auto& a = left.Nodes()[pair.left].children;
    const auto& b = right.Nodes()[pair.right].children;
    for (std::size_t i = std::max(a.size(), b.size()); i-- > 0;)
      stack.push_back({i < a.size() ? a[i] : kNone, i < b.size() ? b[i] : kNone});
  }
  return pairs;
}

std::string SideText(const char* side, const std::string& file) {
  return std::string(side) + " file " + Kiv::Util::DisplayText(file);
}

class Comparison {
 public:
  Comparison(const Side& l, const Side& r, const DiffOptions& options)
      : options_(options),
        leftSide_(SideText("left", l.file)),
        rightSide_(SideText("right", r.file)),
        left_(l.tree, options.leftRoot, leftSide_),
        right_(r.tree, options.rightRoot, rightSide_),
        pairs_(PairNodes(left_, right_)) {}

  void CompareTrees(DiffResult& result) {
    const NodeCompareContext context{left_, right_, options_.versions};
    for (std::size_t p = 0; p < pairs_.size(); ++p) {
      std::vector<Difference> found;
      Fields fields(options_.tolerance, found);
      const NodePair& pair = pairs_[p];
      if (pair.left == kNone || pair.right == kNone) {
        const auto* node = pair.left != kNone ? left_.NodeAt(pair.left) : right_.NodeAt(pair.right);
        const std::string text = TypeText(node) + (node ? " " + Kiv::Util::Quoted(node->name) : "");
        fields.Add("node", pair.left != kNone ? text : "(none)",
                   pair.right != kNone ? text : "(none)");
      } else {
        CompareNodes(left_.NodeAt(pair.left), right_.NodeAt(pair.right), context, fields, arrays_,
                     p);
        // Below the roots, whether the stored parent link names the walk parent.
        const bool l = left_.Nodes()[pair.left].parentLinkAgrees;
        const bool r = right_.Nodes()[pair.right].parentLinkAgrees;
        if (p != 0 && l != r)
          fields.Add("parent link", l ? "the walk parent" : "another node",
                     r ? "the walk parent" : "another node");
        const auto& lEnd = left_.Nodes()[pair.left].listEnd;
        const auto& rEnd = right_.Nodes()[pair.right].listEnd;
        if (lEnd != rEnd) fields.Add("child list ends with", ListEndText(lEnd), ListEndText(rEnd));
      }
      if (!found.empty()) Record(p).differences = std::move(found);
    }
    result.nodePairs = pairs_.size();
  }

  void CompareValues(DiffResult& result) {
    result.arrayPairs = arrays_.size();
    CompareArrayValues(arrays_, options_.tolerance, leftSide_, rightSide_, result.valuesCompared,
                       [&](const ArrayPair& pair, ArrayValueDiff&& diff) {
                         auto& arrays = Record(pair.nodePair).arrays;
                         auto at = arrays.begin();
                         while (at != arrays.end() && at->index < diff.index) ++at;
                         arrays.insert(at, std::move(diff));
                       });
    for (auto& [p, node] : records_) result.nodes.push_back(std::move(node));
  }

 private:
  NodeDiff& Record(std::size_t p) {
    auto it = records_.find(p);
    if (it != records_.end()) return it->second;
    const NodePair& pair = pairs_[p];
    NodeDiff& node = records_[p];
    node.path = pair.left != kNone ? left_.PathOf(pair.left) : right_.PathOf(pair.right);
    node.leftId = pair.left != kNone ? left_.Nodes()[pair.left].id : 0;
    node.rightId = pair.right != kNone ? right_.Nodes()[pair.right].id : 0;
    const KivMox::Node* named =
        pair.left != kNone ? left_.NodeAt(pair.left) : right_.NodeAt(pair.right);
    if (!named && pair.right != kNone) named = right_.NodeAt(pair.right);
    if (named) node.name = Kiv::Util::DisplayText(named->name);
    return node;
  }

  const DiffOptions& options_;
  std::string leftSide_, rightSide_;
  WalkedTree left_, right_;
  std::vector<NodePair> pairs_;
  std::vector<ArrayPair> arrays_;
  std::map<std::size_t, NodeDiff> records_;  // by node pair, so in walk order
};

}  // namespace

DiffResult DiffModels(const Side& left, const Side& right, const DiffOptions& options) {
  DiffResult result;
  result.leftFile = Kiv::Util::DisplayText(left.file);
  result.rightFile = Kiv::Util::DisplayText(right.file);
  result.leftRoot = options.leftRoot;
  result.rightRoot = options.rightRoot;
  if (options.versions) {
    Fields fields(options.tolerance, result.container);
    fields.Text("container version", left.tree.fileVersion, right.tree.fileVersion);
  }
  Comparison comparison(left, right, options);
  comparison.CompareTrees(result);
  comparison.CompareValues(result);
  result.historyCompared = !options.subtree && !options.ignoreHistory;
  if (result.historyCompared) {
    Fields fields(options.tolerance, result.history);
    CompareHistories(left.tree.globalInfo, right.tree.globalInfo, options.versions, fields);
  }
  result.viewPointsCompared = !options.subtree && !options.ignoreViewPoints;
  if (result.viewPointsCompared) {
    Fields fields(options.tolerance, result.viewPoints);
    CompareViewPoints(left.tree.views, right.tree.views, options.versions, fields);
  }
  return result;
}

}  // namespace MoxDiff
