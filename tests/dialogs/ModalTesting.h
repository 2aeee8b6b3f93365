#pragma once
#include "tests/support/GuiTesting.h"
