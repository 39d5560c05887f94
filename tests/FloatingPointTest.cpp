#include "platform/FloatingPoint.h"

#include <fenv.h>
#include <gtest/gtest.h>

#include <cmath>

#include "platform/Thread.h"
#include "tests/TestEvent.h"

namespace {
// Unmasks some exceptions for the duration of a test, as a host program or
// a library might, and puts the environment back afterwards.
class TUnmasked {
 public:
  explicit TUnmasked(int exceptions) {
    fegetenv(&saved_);
    feclearexcept(FE_ALL_EXCEPT);
    feenableexcept(exceptions);
  }
  ~TUnmasked() { fesetenv(&saved_); }

 private:
  fenv_t saved_;
};

double Divide(double a, double b) {
  volatile double divisor = b;
  return a / divisor;
}

class TMaskProbe : public TThread {
 public:
  bool masked = false;

 protected:
  void Execute() override { masked = FloatingPointExceptionsMasked(); }
};
}  // namespace

TEST(FloatingPoint, GuardMasksEverythingAndRestoresTheSavedEnvironment) {
  TUnmasked unmasked(FE_DIVBYZERO | FE_INVALID);
  ASSERT_FALSE(FloatingPointExceptionsMasked());
  {
    TFloatingPointGuard guard;
    EXPECT_TRUE(FloatingPointExceptionsMasked());
    EXPECT_TRUE(std::isinf(Divide(1.0, 0.0))) << "no signal while masked";
    EXPECT_TRUE(fetestexcept(FE_DIVBYZERO));
  }
  EXPECT_EQ(fegetexcept(), FE_DIVBYZERO | FE_INVALID);
  EXPECT_FALSE(fetestexcept(FE_DIVBYZERO)) << "flags raised under the guard must not come back";
}

TEST(FloatingPoint, WorkerThreadsRunMaskedWhateverTheirCreatorHas) {
  TUnmasked unmasked(FE_DIVBYZERO | FE_OVERFLOW);
  auto probe = NewThread<TMaskProbe>();
  probe->Resume();
  ASSERT_TRUE(probe->WaitFor(WatchdogMs));
  EXPECT_TRUE(probe->masked);
}
