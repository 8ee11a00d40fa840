#pragma once
// The statements of one store connection, prepared once when the connection opens.
// Internal to the store.

#include "sim/sqlite_db.h"
#include "sim/store.h"

namespace cubesec::sim {

struct Store::Statements {
  explicit Statements(SqliteDb& db)
      : begin(db.Prepare("BEGIN IMMEDIATE")),
        commit(db.Prepare("COMMIT")),
        rollback(db.Prepare("ROLLBACK")),
        read_global(
            db.Prepare("SELECT api_version, security, logins, default_access, validity, reserved, "
                       "min_length, timeout, check_frequency FROM server WHERE id = 1")),
        write_global(db.Prepare(
            "UPDATE server SET api_version = ?1, security = ?2, logins = ?3, "
            "default_access = ?4, validity = ?5, reserved = ?6, min_length = ?7, timeout = ?8, "
            "check_frequency = ?9 WHERE id = 1")),
        read_password_iterations(db.Prepare("SELECT password_iterations FROM server WHERE id = 1")),
        write_password_iterations(
            db.Prepare("UPDATE server SET password_iterations = ?1 WHERE id = 1")),
        set_password(db.Prepare("UPDATE principals SET password = ?2 WHERE id = ?1")),
        find_principal(
            db.Prepare("SELECT id, name, is_group, access, supervisor, disabled, password_expired, "
                       "last_login, password FROM principals WHERE name = ?1")),
        principal_by_id(
            db.Prepare("SELECT id, name, is_group, access, supervisor, disabled, password_expired, "
                       "last_login, password FROM principals WHERE id = ?1")),
        principal_names(db.Prepare("SELECT name FROM principals WHERE is_group = ?1 ORDER BY id")),
        principal_names_with_access(
            db.Prepare("SELECT p.name FROM principals p WHERE p.is_group = ?1 AND ("
                       " EXISTS (SELECT 1 FROM app_access a WHERE a.principal_id = p.id"
                       "         AND a.app_id = ?2 AND a.access > 0)"
                       " OR EXISTS (SELECT 1 FROM db_access d JOIN databases b ON b.id = d.db_id"
                       "         WHERE d.principal_id = p.id AND b.app_id = ?2"
                       "         AND (?3 = 0 OR d.db_id = ?3) AND d.access > 0))"
                       " ORDER BY p.id")),
        create_principal(
            db.Prepare("INSERT INTO principals (name, is_group, password) VALUES (?1, ?2, ?3)")),
        update_principal(
            db.Prepare("UPDATE principals SET access = ?1, supervisor = ?2, disabled = ?3, "
                       "password_expired = ?4 WHERE id = ?5")),
        delete_principal(db.Prepare("DELETE FROM principals WHERE id = ?1")),
        add_membership(
            db.Prepare("INSERT OR IGNORE INTO memberships (group_id, user_id) VALUES (?1, ?2)")),
        members_of(
            db.Prepare("SELECT p.name FROM memberships m JOIN principals p ON p.id = m.user_id "
                       "WHERE m.group_id = ?1 ORDER BY m.id")),
        groups_of(
            db.Prepare("SELECT p.name FROM memberships m JOIN principals p ON p.id = m.group_id "
                       "WHERE m.user_id = ?1 ORDER BY m.id")),
        group_ids_of(db.Prepare("SELECT group_id FROM memberships WHERE user_id = ?1")),
        find_app(db.Prepare(
            "SELECT id, name, description, loadable, autoload, default_access, connects, "
            "commands, updates, lock_timeout, lro_size, security FROM applications "
            "WHERE name = ?1")),
        app_names(db.Prepare("SELECT name FROM applications ORDER BY id")),
        update_app(
            db.Prepare("UPDATE applications SET description = ?1, loadable = ?2, autoload = ?3, "
                       "default_access = ?4, connects = ?5, commands = ?6, updates = ?7, "
                       "lock_timeout = ?8, lro_size = ?9, security = ?10 WHERE id = ?11")),
        find_db(db.Prepare(
            "SELECT id, name, description, loadable, autoload, default_access FROM databases "
            "WHERE app_id = ?1 AND name = ?2")),
        db_pairs(db.Prepare(
            "SELECT a.name, d.name FROM databases d JOIN applications a ON a.id = d.app_id "
            "WHERE d.app_id = ?1 ORDER BY d.id")),
        all_db_pairs(db.Prepare(
            "SELECT a.name, d.name FROM databases d JOIN applications a ON a.id = d.app_id "
            "ORDER BY a.id, d.id")),
        update_db(db.Prepare("UPDATE databases SET description = ?1, loadable = ?2, autoload = ?3, "
                             "default_access = ?4 WHERE id = ?5")),
        has_member(db.Prepare("SELECT 1 FROM members WHERE db_id = ?1 AND name = ?2 LIMIT 1")),
        find_calc_script(
            db.Prepare("SELECT name FROM calc_scripts WHERE db_id = ?1 AND name = ?2")),
        find_filter(db.Prepare(
            "SELECT id, name, active, access FROM filters WHERE db_id = ?1 AND name = ?2")),
        filter_names(db.Prepare("SELECT name FROM filters WHERE db_id = ?1 ORDER BY id")),
        filter_rows(
            db.Prepare("SELECT access, text FROM filter_rows WHERE filter_id = ?1 ORDER BY seq")),
        update_filter(db.Prepare("UPDATE filters SET active = ?1, access = ?2 WHERE id = ?3")),
        delete_filter_rows(db.Prepare("DELETE FROM filter_rows WHERE filter_id = ?1")),
        insert_filter(db.Prepare(
            "INSERT INTO filters (db_id, name, active, access) VALUES (?1, ?2, ?3, ?4)")),
        insert_filter_row(db.Prepare(
            "INSERT INTO filter_rows (filter_id, seq, access, text) VALUES (?1, ?2, ?3, ?4)")),
        delete_filter(db.Prepare("DELETE FROM filters WHERE id = ?1")),
        filter_holders(db.Prepare(
            "SELECT p.name FROM filter_assignments f JOIN principals p ON p.id = f.principal_id "
            "WHERE f.filter_id = ?1 ORDER BY f.id")),
        clear_filter_holders(db.Prepare("DELETE FROM filter_assignments WHERE filter_id = ?1")),
        assign_filter(db.Prepare(
            "INSERT INTO filter_assignments (principal_id, db_id, filter_id) VALUES (?1, ?2, ?3) "
            "ON CONFLICT (principal_id, db_id) DO UPDATE SET filter_id = excluded.filter_id")),
        assigned_filter(db.Prepare(
            "SELECT f.name FROM filter_assignments a JOIN filters f ON f.id = a.filter_id "
            "WHERE a.principal_id = ?1 AND a.db_id = ?2")),
        app_access_of_all(
            db.Prepare("SELECT p.name, coalesce(a.access, 0) FROM principals p "
                       "LEFT JOIN app_access a ON a.principal_id = p.id AND a.app_id = ?1 "
                       "ORDER BY p.is_group DESC, p.id")),
        app_access(
            db.Prepare("SELECT access FROM app_access WHERE principal_id = ?1 AND app_id = ?2")),
        set_app_access(db.Prepare(
            "INSERT INTO app_access (principal_id, app_id, access) VALUES (?1, ?2, ?3) "
            "ON CONFLICT (principal_id, app_id) DO UPDATE SET access = excluded.access")),
        db_access(
            db.Prepare("SELECT access FROM db_access WHERE principal_id = ?1 AND db_id = ?2")),
        group_grants_of(db.Prepare(
            "SELECT g.supervisor OR g.access = 65535, coalesce(a.access, 0), "
            "coalesce(d.access, 0) FROM memberships m JOIN principals g ON g.id = m.group_id "
            "LEFT JOIN app_access a ON a.principal_id = g.id AND a.app_id = ?2 "
            "LEFT JOIN db_access d ON d.principal_id = g.id AND d.db_id = ?3 "
            "WHERE m.user_id = ?1")),
        clear_db_access_in_app(
            db.Prepare("UPDATE db_access SET access = 0 WHERE principal_id = ?1 AND db_id IN "
                       "(SELECT id FROM databases WHERE app_id = ?2)")),
        set_db_access(
            db.Prepare("INSERT INTO db_access (principal_id, db_id, access) VALUES (?1, ?2, ?3) "
                       "ON CONFLICT (principal_id, db_id) DO UPDATE SET access = excluded.access")),
        all_calcs(
            db.Prepare("SELECT all_calcs FROM db_access WHERE principal_id = ?1 AND db_id = ?2")),
        calc_names(db.Prepare(
            "SELECT name FROM calc_lists WHERE principal_id = ?1 AND db_id = ?2 ORDER BY seq")),
        set_all_calcs(db.Prepare(
            "INSERT INTO db_access (principal_id, db_id, all_calcs) VALUES (?1, ?2, ?3) "
            "ON CONFLICT (principal_id, db_id) DO UPDATE SET all_calcs = excluded.all_calcs")),
        clear_calc_names(
            db.Prepare("DELETE FROM calc_lists WHERE principal_id = ?1 AND db_id = ?2")),
        insert_calc_name(db.Prepare(
            "INSERT INTO calc_lists (principal_id, db_id, seq, name) VALUES (?1, ?2, ?3, ?4)")),
        counts(db.Prepare("SELECT (SELECT count(*) FROM principals WHERE is_group = 0), "
                          "(SELECT count(*) FROM principals WHERE is_group = 1), "
                          "(SELECT count(*) FROM applications), (SELECT count(*) FROM databases), "
                          "(SELECT count(*) FROM filters)")),
        begin_read(db.Prepare("BEGIN")),
        load_principal(db.Prepare(
            "INSERT INTO principals (name, is_group, access, supervisor, disabled, "
            "password_expired, last_login, password) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)")),
        insert_app(db.Prepare("INSERT INTO applications (name) VALUES (?1)")),
        insert_db(db.Prepare("INSERT INTO databases (app_id, name) VALUES (?1, ?2)")),
        insert_member(db.Prepare("INSERT INTO members (db_id, name) VALUES (?1, ?2)")),
        insert_calc_script(db.Prepare("INSERT INTO calc_scripts (db_id, name) VALUES (?1, ?2)")),
        load_db_access(db.Prepare("INSERT INTO db_access (principal_id, db_id, access, all_calcs) "
                                  "VALUES (?1, ?2, ?3, ?4)")),
        export_principals(
            db.Prepare("SELECT id, name, is_group, access, supervisor, disabled, password_expired, "
                       "last_login, password FROM principals ORDER BY id")),
        export_app_ids(db.Prepare("SELECT id FROM applications ORDER BY id")),
        app_name_by_id(db.Prepare("SELECT name FROM applications WHERE id = ?1")),
        export_app_access(
            db.Prepare("SELECT principal_id, access FROM app_access WHERE app_id = ?1 "
                       "ORDER BY principal_id")),
        export_members(db.Prepare("SELECT name FROM members WHERE db_id = ?1 ORDER BY id")),
        export_calc_scripts(
            db.Prepare("SELECT name FROM calc_scripts WHERE db_id = ?1 ORDER BY id")),
        export_db_access(db.Prepare(
            "SELECT p.id, coalesce(d.access, 0), coalesce(d.all_calcs, 0), coalesce(f.name, '') "
            "FROM principals p "
            "LEFT JOIN db_access d ON d.principal_id = p.id AND d.db_id = ?1 "
            "LEFT JOIN filter_assignments a ON a.principal_id = p.id AND a.db_id = ?1 "
            "LEFT JOIN filters f ON f.id = a.filter_id "
            "WHERE d.principal_id IS NOT NULL OR a.id IS NOT NULL ORDER BY p.id")) {}

  Statement begin, commit, rollback;
  Statement read_global, write_global;
  Statement read_password_iterations, write_password_iterations, set_password;
  Statement find_principal, principal_by_id, principal_names, principal_names_with_access;
  Statement create_principal, update_principal, delete_principal;
  Statement add_membership, members_of, groups_of, group_ids_of;
  Statement find_app, app_names, update_app;
  Statement find_db, db_pairs, all_db_pairs, update_db, has_member, find_calc_script;
  Statement find_filter, filter_names, filter_rows, update_filter, delete_filter_rows;
  Statement insert_filter, insert_filter_row, delete_filter;
  Statement filter_holders, clear_filter_holders, assign_filter, assigned_filter;
  Statement app_access_of_all, app_access, set_app_access;
  Statement db_access, group_grants_of, clear_db_access_in_app, set_db_access, all_calcs,
      calc_names, set_all_calcs;
  Statement clear_calc_names, insert_calc_name;
  Statement counts;
  Statement begin_read, load_principal, insert_app, insert_db, insert_member;
  Statement insert_calc_script, load_db_access;
  Statement export_principals, export_app_ids, app_name_by_id, export_app_access;
  Statement export_members, export_calc_scripts, export_db_access;
};

}  // namespace cubesec::sim
