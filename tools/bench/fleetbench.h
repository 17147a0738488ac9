#pragma once

// A floor of benches on one PostgreSQL of this machine: each bench its own
// journal, outbox and row desk, each on connections of its own, all writing
// records and reserving rows of one shared provisioning table at once. Prints
// the records per second reaching the server, the reservations per second and
// their latency, the event loop's largest stall, and whether anything was lost
// or doubled. False when the server did not start or a check failed.
bool measureFleet(int benches, int socketsPerBench, int recordsPerBench);
