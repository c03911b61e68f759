// SPDX-License-Identifier: GPL-3.0-or-later
// The one way tests and benchmarks reach inside a class: each class that lets
// them declares `friend class <Class>ForTests;` beside what they may set.
#pragma once

#include "mainform.h"

class MainForTests
{
public:
    // The Save dialog, for a presenter that answers at once.
    static CommonDialog &commonDialog(Main &window) { return window.CommonDialog1; }
    static void setProgressDelay(Main &window, int milliseconds)
    {
        window.m_progressDelayMs = milliseconds;
    }
};
