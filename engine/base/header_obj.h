// The scan list: the entries a format reader's scan pass selected, in archive order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quern {

struct TScanItem {
  std::uint32_t attributes = 0;  // the entry's attribute word, widened
  std::uint32_t reserved = 0;    // always 0
  std::int64_t offset = 0;       // file position of the entry's header
};
static_assert(sizeof(TScanItem) == 16);

class THeaderObj {
 public:
  void Add(const TScanItem& item) { items_.push_back(item); }
  const TScanItem& Item(std::size_t index) const { return items_.at(index); }
  std::size_t Count() const { return items_.size(); }
  void Clear() { items_.clear(); }

 private:
  std::vector<TScanItem> items_;
};

class TUnBaseHeaderObj : public THeaderObj {};

}  // namespace quern
