// SPDX-License-Identifier: GPL-3.0-or-later
// The knobs tests turn in product classes, each class's through one door
// that the class names as its friend.
#pragma once

#include "container.h"

#include <cstddef>
#include <cstdint>

class ContainerForTests
{
public:
    // A copy, a cut or a primary selection of more bytes is refused.
    static void setCopyLimit(Container &container, size_t bytes) { container.m_copyLimit = bytes; }
    // The vertical bar stands for this many top rows at most before it is
    // mapped; from the next lines shown on.
    static void setScrollLimit(Container &container, std::uint64_t rows)
    {
        container.m_scrollLimit = rows;
    }
};
