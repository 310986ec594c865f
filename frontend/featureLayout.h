// Layout of a feature frame, shared by the front end and the models: the
// static values of one stream, then their deltas, then their accelerations.
#pragma once

// Values of one stream: 12 cepstra plus the log energy or C0 (the static
// part of a frame that the models are built for).
constexpr int MAX_PARAM_NUM = 13;
