#include "FloatingPoint.h"

// fedisableexcept and fegetexcept are GNU extensions of <fenv.h>.
#include <fenv.h>

void MaskFloatingPointExceptions() {
  fedisableexcept(FE_ALL_EXCEPT);
}

bool FloatingPointExceptionsMasked() {
  return fegetexcept() == 0;
}

// feholdexcept saves, clears the flags and masks everything in one step.
TFloatingPointGuard::TFloatingPointGuard() {
  feholdexcept(&saved_);
}

// fesetenv rather than feupdateenv: flags raised meanwhile must not trap
// when the saved environment unmasks them again.
TFloatingPointGuard::~TFloatingPointGuard() {
  fesetenv(&saved_);
}
