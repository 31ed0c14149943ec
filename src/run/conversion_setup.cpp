#include "run/conversion_setup.h"

namespace mailvane::run {

ConversionSetup DefaultConversionSetup() {
  return {[] { return store::CreatePstSession(); }, DefaultItemSteps(), RunOptions{}};
}

}  // namespace mailvane::run
