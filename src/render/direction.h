// A rough (cosine, sine) for an angle, from low-order polynomials. The large star's ray pixels
// follow from exactly these values; true ones would move some, so this must not be "improved".
#pragma once

struct Direction {
    double c; // stands for the cosine
    double s; // stands for the sine
};

Direction ApproximateDirection(double angle);
