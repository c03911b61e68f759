// SPDX-License-Identifier: GPL-3.0-or-later
// Controls that share a name and a handler, told apart by an index.
#pragma once

#include <QtGlobal>

#include <vector>

template<typename T>
class ControlArray
{
public:
    void append(T *control) { m_controls.push_back(control); }
    int count() const { return static_cast<int>(m_controls.size()); }

    // Element k, as in Text2(k).
    T *operator()(int k) const
    {
        Q_ASSERT_X(k >= 0 && k < count(), "ControlArray", "index out of range");
        return m_controls.at(static_cast<size_t>(k));
    }

private:
    std::vector<T *> m_controls;
};
