-- A bench's role: it reads the schema's version, writes journal records and
-- reserves provisioning rows; it changes no record and makes no table.
-- Run as a superuser (or a role with CREATEROLE) in the floor's database,
-- after the owner's role has made the schema.
CREATE ROLE lorta_bench LOGIN;
GRANT CONNECT ON DATABASE lorta TO lorta_bench;
-- PostgreSQL 14 and older let every role create tables in public.
REVOKE CREATE ON SCHEMA public FROM PUBLIC;
GRANT USAGE ON SCHEMA public TO lorta_bench;
GRANT SELECT ON lorta_schema TO lorta_bench;
GRANT SELECT, INSERT ON lorta_record TO lorta_bench;
GRANT USAGE ON SEQUENCE lorta_record_seq_seq TO lorta_bench;
GRANT SELECT ON lorta_table TO lorta_bench;
GRANT SELECT, UPDATE (bound_imei, bound_bench, bound_at) ON lorta_table_row TO lorta_bench;
GRANT SELECT ON lorta_yield, lorta_failures, lorta_rows_left, lorta_prepared_twice TO lorta_bench;
