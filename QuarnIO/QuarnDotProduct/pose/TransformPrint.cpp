#include "TransformPrint.h"

void printGlobalTransform(std::ostream& out, const TooN::SE3<double>& globalTransform) {
  out << "Global scene transform T_g_r =" << std::endl;
  out << globalTransform;
  out << std::endl;
}
