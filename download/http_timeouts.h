// The time limits of one HTTP request. Thread: any; a plain value.
#pragma once

struct HttpTimeouts {
    long connectMs = 30000;
    // A transfer that brings (almost) no data for this long is aborted.
    long stallSeconds = 30;
};
