#include "daemon/core/steering_context.h"

namespace qx {

SteeringContextT SteeringContext;

}  // namespace qx
