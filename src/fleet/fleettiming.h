#pragma once

#include <chrono>

// Every wait on the floor's server, named once. The programs run on the
// defaults; tests hand in shorter ones so a server stopped and started again
// is noticed and recovered from in a fraction of the time.
struct FleetTiming
{
    using Ms = std::chrono::milliseconds;

    Ms connectLimit{5000};  // a connection not made by then is given up
    Ms recordLimit{15000};  // a batch of records not confirmed by then is sent again later
    Ms checkLimit{1500};    // the IMEI question: the local journal answers after this
    Ms reserveLimit{5000};  // a row not reserved by then is asked for again
    Ms retry{3000};         // after a failure the server is tried again this soon
    int batchRecords = 200; // records sent in one statement
};
