#pragma once
#include <QIcon>

namespace zorv {
// The program's icon: a speech bubble holding a "Z", drawn at start-up.
QIcon programIcon();
}  // namespace zorv
