#include "formats/ese/BTree.h"

#include <vector>

namespace trovex::ese {

namespace {

// Real trees are at most a few levels deep.
constexpr int kMaxDepth = 16;

class Walk {
 public:
  Walk(const Image& image, const Geometry& geometry, TreeKind kind, Drops& drops,
       const std::function<bool(const Node&)>& visit)
      : image_(image), geometry_(geometry), kind_(kind), drops_(drops), visit_(visit),
        seen_(geometry.pageCount + 1) {}

  bool Run(uint32_t root, uint32_t owner) {
    Visit(root, owner, 0, false);
    return complete_;
  }

 private:
  void Lose(Drop reason) {
    drops_.Add(reason);
    complete_ = false;
  }

  bool FlagsFit(const Page& page, bool mustBeLeaf) const {
    uint32_t foreign = kPageSpaceTree | kPageIndex;
    if (kind_ == TreeKind::kData) foreign |= kPageLongValue;
    if (page.Flags() & foreign) return false;
    if (kind_ == TreeKind::kLongValue && !page.Has(kPageLongValue)) return false;
    return !mustBeLeaf || page.Has(kPageLeaf);
  }

  // Visits one page and its subtree; false once the visitor has stopped.
  bool Visit(uint32_t number, uint32_t owner, int depth, bool mustBeLeaf) {
    if (depth > kMaxDepth) {
      Lose(Drop::kPageDepth);
      return true;
    }
    if (number >= 1 && number < seen_.size()) {
      if (seen_[number]) {
        Lose(Drop::kPageCycle);
        return true;
      }
      seen_[number] = true;
    }
    Page page;
    if (std::optional<Drop> fault = LoadPage(image_, geometry_, number, page)) {
      Lose(*fault);
      return true;
    }
    if (depth == 0 && owner == 0) owner = page.Owner();
    if (page.Owner() != owner) {
      Lose(Drop::kPageOwner);
      return true;
    }
    if (!FlagsFit(page, mustBeLeaf) || (depth == 0) != page.Has(kPageRoot)) {
      Lose(Drop::kPageFlags);
      return true;
    }
    bool leaf = page.Has(kPageLeaf);
    for (uint32_t i = 0; i < page.NodeCount(); ++i) {
      Node node;
      if (!page.NodeAt(i, node) || (!leaf && node.data.Size() != 4)) {
        Lose(Drop::kNodeShape);
        continue;
      }
      if (node.flags & kNodeDeleted) continue;
      bool more = leaf ? visit_(node)
                       : Visit(node.data.U32(0), owner, depth + 1, page.Has(kPageParentOfLeaf));
      if (!more) return false;
    }
    return true;
  }

  const Image& image_;
  const Geometry& geometry_;
  TreeKind kind_;
  Drops& drops_;
  const std::function<bool(const Node&)>& visit_;
  std::vector<bool> seen_;
  bool complete_ = true;
};

}  // namespace

bool WalkTree(const Image& image, const Geometry& geometry, uint32_t root, uint32_t owner, TreeKind kind,
              Drops& drops, const std::function<bool(const Node&)>& visit) {
  return Walk(image, geometry, kind, drops, visit).Run(root, owner);
}

}  // namespace trovex::ese
