#pragma once

#include <string>
#include <vector>

namespace tamberly {

/// Marks shown beside the rows of the proxy list box: a proxy check's verdicts. They never change a row's text,
/// which every command keeps reading.
class CheckMarks {
public:
    struct Mark {
        bool works = false;
        /// "123 ms" for a working entry, else the verdict's word.
        std::string text;
    };
    virtual ~CheckMarks() = default;
    /// Row i gets marks[i]; rows beyond the marks get none.
    virtual void showMarks(std::vector<Mark> marks) = 0;
    virtual void clearMarks() = 0;
};

} // namespace tamberly
