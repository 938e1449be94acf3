#pragma once

#include <QApplication>
#include <QCursor>

#include <vector>

namespace vela {

// While a box waits for a person, the normal pointer: the busy one would say the program is still
// working. The busy pointers come back when the box is closed and the step goes on.
class NormalCursor {
public:
    NormalCursor() {
        while (const QCursor* c = QApplication::overrideCursor()) {
            saved_.push_back(*c);
            QApplication::restoreOverrideCursor();
        }
    }
    ~NormalCursor() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it)
            QApplication::setOverrideCursor(*it);
    }
    NormalCursor(const NormalCursor&) = delete;
    NormalCursor& operator=(const NormalCursor&) = delete;

private:
    std::vector<QCursor> saved_;
};

} // namespace vela
