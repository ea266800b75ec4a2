// What holds for both hardware DLLs alike: the export table, and loading and
// unloading. The calls each DLL answers are in korvel_dll_test.cpp and
// dremor_dll_test.cpp, in the same program.
#include "dll_test.h"

namespace daqtest {
namespace {

template <class Dll>
using EveryDll = DllTest<Dll>;
using TheDlls = ::testing::Types<KorvelDll, DremorDll>;
TYPED_TEST_SUITE(EveryDll, TheDlls);

TYPED_TEST(EveryDll, EveryExportResolvesByNameAndByTheSameOrdinal) { this->ExpectTheExportTable(); }

TYPED_TEST(EveryDll, LoadingAndUnloadingTouchNothing) { this->ExpectLoadingAndUnloadingToWork(); }

}  // namespace
}  // namespace daqtest
