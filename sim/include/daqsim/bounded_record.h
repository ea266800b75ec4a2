// The bench's records (port trace, faults, opens, requests) grow with every
// call. A long simulated run bounds them: with a limit, a record that is full
// drops its older half before taking the next entry, so it never holds more
// than the limit and always holds at least the latest half of it.
#ifndef DAQSIM_BOUNDED_RECORD_H
#define DAQSIM_BOUNDED_RECORD_H

#include <cstddef>
#include <utility>
#include <vector>

namespace daqsim {

// Appends `item`; `limit` 0 means no bound.
template <class T>
void AppendBounded(std::vector<T>& records, T item, size_t limit) {
  if (limit != 0 && records.size() >= limit) {
    records.erase(records.begin(), records.begin() + std::ptrdiff_t(records.size() - limit / 2));
  }
  records.push_back(std::move(item));
}

// Cuts a record down to `limit` (0: no bound), keeping the latest entries.
template <class T>
void TrimToBound(std::vector<T>& records, size_t limit) {
  if (limit != 0 && records.size() > limit) {
    records.erase(records.begin(), records.begin() + std::ptrdiff_t(records.size() - limit));
  }
}

}  // namespace daqsim

#endif
