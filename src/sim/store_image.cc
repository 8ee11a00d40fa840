// Loading a whole server image into a store, and reading one back.
#include <map>

#include "sim/names.h"
#include "sim/password_hash.h"
#include "sim/store.h"
#include "sim/store_statements.h"

namespace cubesec::sim {

namespace {

// Children before parents, so that no cascade has anything left to do.
constexpr const char* kClearTables[] = {
    "DELETE FROM calc_lists",         "DELETE FROM db_access",   "DELETE FROM app_access",
    "DELETE FROM filter_assignments", "DELETE FROM filter_rows", "DELETE FROM filters",
    "DELETE FROM calc_scripts",       "DELETE FROM members",     "DELETE FROM databases",
    "DELETE FROM applications",       "DELETE FROM memberships", "DELETE FROM principals",
};

int64_t Lookup(const std::map<std::string, int64_t>& ids, const std::string& name) {
  auto it = ids.find(FoldCase(name));
  if (it == ids.end()) throw SqliteError(0, "unresolved name \"" + name + "\"");
  return it->second;
}

}  // namespace

void Store::Replace(const ServerImage& image) {
  Transaction t(*db_, s_->begin, s_->commit, s_->rollback);
  for (const char* sql : kClearTables) db_->Exec(sql);
  WriteGlobal(image.global);
  SetPasswordIterations(image.password_iterations);

  std::map<std::string, int64_t> principals;  // folded name -> id
  auto add_principal = [&](const std::string& name, bool is_group,
                           const std::optional<std::string>& password, uint16_t access,
                           bool supervisor, bool disabled, bool expired, int32_t last_login) {
    std::optional<std::string> hash;
    if (password) {
      hash = HashPassword(SystemPlatform(), *password, image.password_iterations);
      if (!hash) {
        throw SqliteError(
            0, "the password of \"" + name + "\" cannot be kept: " + kPasswordKeyFailure);
      }
    }
    Statement& st = s_->load_principal;
    Query q(st);
    q->Bind(1, name);
    q->Bind(2, int64_t{is_group});
    q->Bind(3, int64_t{access});
    q->Bind(4, int64_t{supervisor});
    q->Bind(5, int64_t{disabled});
    q->Bind(6, int64_t{expired});
    q->Bind(7, int64_t{last_login});
    if (hash) {
      q->Bind(8, *hash);
    } else {
      q->BindNull(8);
    }
    q->Run();
    principals[FoldCase(name)] = db_->LastInsertId();
  };
  for (const ImageGroup& g : image.groups) {
    add_principal(g.name, true, std::nullopt, g.access, g.supervisor, false, false, 0);
  }
  for (const ImageUser& u : image.users) {
    add_principal(u.name, false, u.password, u.access, u.supervisor, u.disabled, u.password_expired,
                  u.last_login);
  }
  for (const ImageUser& u : image.users) {
    int64_t user_id = Lookup(principals, u.name);
    for (const std::string& group : u.groups) AddMembership(Lookup(principals, group), user_id);
  }

  for (const ImageApplication& a : image.applications) {
    {
      Query q(s_->insert_app);
      q->Bind(1, a.name);
      q->Run();
    }
    AppRecord app{db_->LastInsertId(), a};
    UpdateApp(app);
    for (const ImageAppAccess& entry : a.access) {
      SetAppAccess(Lookup(principals, entry.name), app.id, entry.access);
    }
    for (const ImageDatabase& d : a.databases) {
      {
        Query q(s_->insert_db);
        q->Bind(1, app.id);
        q->Bind(2, d.name);
        q->Run();
      }
      DbRecord db{db_->LastInsertId(), app.id, d};
      UpdateDb(db);
      for (const std::string& member : d.members) {
        Query q(s_->insert_member);
        q->Bind(1, db.id);
        q->Bind(2, member);
        q->Run();
      }
      for (const std::string& calc : d.calc_scripts) {
        Query q(s_->insert_calc_script);
        q->Bind(1, db.id);
        q->Bind(2, calc);
        q->Run();
      }
      std::map<std::string, int64_t> filters;
      for (const ImageFilter& f : d.filters) {
        {
          Query q(s_->insert_filter);
          q->Bind(1, db.id);
          q->Bind(2, f.name);
          q->Bind(3, int64_t{f.active});
          q->Bind(4, int64_t{f.default_access});
          q->Run();
        }
        int64_t filter_id = db_->LastInsertId();
        filters[FoldCase(f.name)] = filter_id;
        int64_t seq = 0;
        for (const ImageFilterRow& row : f.rows) {
          Query q(s_->insert_filter_row);
          q->Bind(1, filter_id);
          q->Bind(2, ++seq);
          q->Bind(3, int64_t{row.access});
          q->Bind(4, row.text);
          q->Run();
        }
      }
      for (const ImageDbAccess& entry : d.access) {
        int64_t principal_id = Lookup(principals, entry.name);
        {
          Query q(s_->load_db_access);
          q->Bind(1, principal_id);
          q->Bind(2, db.id);
          q->Bind(3, int64_t{entry.access});
          q->Bind(4, int64_t{entry.all_calcs});
          q->Run();
        }
        if (!entry.filter.empty()) {
          Query q(s_->assign_filter);
          q->Bind(1, principal_id);
          q->Bind(2, db.id);
          q->Bind(3, Lookup(filters, entry.filter));
          q->Run();
        }
        int64_t seq = 0;
        for (const std::string& calc : entry.calcs) {
          Query q(s_->insert_calc_name);
          q->Bind(1, principal_id);
          q->Bind(2, db.id);
          q->Bind(3, ++seq);
          q->Bind(4, *FindCalcScript(db.id, calc));
          q->Run();
        }
      }
    }
  }
  t.Commit();
}

ServerImage Store::Export() {
  // One read transaction, so the image is one consistent state.
  Transaction t(*db_, s_->begin_read, s_->commit, s_->rollback);
  ServerImage image;
  image.global = ReadGlobal();
  image.password_iterations = PasswordIterations();
  std::map<int64_t, std::string> names;  // principal id -> name
  {
    Query q(s_->export_principals);
    while (q->Step()) {
      Principal p = ReadPrincipal(s_->export_principals);
      names[p.id] = p.name;
      if (p.is_group) {
        image.groups.push_back({p.name, p.access, p.supervisor});
      } else {
        ImageUser u;
        u.name = p.name;
        u.access = p.access;
        u.supervisor = p.supervisor;
        u.disabled = p.disabled;
        u.password_expired = p.password_expired;
        u.last_login = p.last_login;
        u.groups = GroupsOf(p.id);
        image.users.push_back(std::move(u));
      }
    }
  }
  std::vector<int64_t> app_ids;
  {
    Query q(s_->export_app_ids);
    while (q->Step()) app_ids.push_back(q->Int(0));
  }
  for (int64_t app_id : app_ids) {
    std::string app_name;
    {
      Query q(s_->app_name_by_id);
      q->Bind(1, app_id);
      q->Step();
      app_name = q->Text(0);
    }
    AppRecord app = *FindApp(app_name);
    ImageApplication a = app.state;
    {
      Query q(s_->export_app_access);
      q->Bind(1, app_id);
      while (q->Step()) a.access.push_back({names[q->Int(0)], static_cast<uint16_t>(q->Int(1))});
    }
    for (const auto& [unused, db_name] : DatabasePairs(app_id)) {
      DbRecord db = *FindDb(app_id, db_name);
      ImageDatabase d = db.state;
      {
        Query q(s_->export_members);
        q->Bind(1, db.id);
        while (q->Step()) d.members.push_back(q->Text(0));
      }
      {
        Query q(s_->export_calc_scripts);
        q->Bind(1, db.id);
        while (q->Step()) d.calc_scripts.push_back(q->Text(0));
      }
      for (const std::string& filter_name : FilterNames(db.id)) {
        FilterRecord f = *FindFilter(db.id, filter_name);
        d.filters.push_back({f.name, f.active, f.access, FilterRows(f.id)});
      }
      {
        Query q(s_->export_db_access);
        q->Bind(1, db.id);
        while (q->Step()) {
          int64_t principal_id = q->Int(0);
          ImageDbAccess entry;
          entry.name = names[principal_id];
          entry.access = static_cast<uint16_t>(q->Int(1));
          entry.all_calcs = q->Int(2) != 0;
          entry.filter = q->Text(3);
          entry.calcs = GetCalcList(principal_id, db.id).names;
          d.access.push_back(std::move(entry));
        }
      }
      a.databases.push_back(std::move(d));
    }
    image.applications.push_back(std::move(a));
  }
  t.Commit();
  return image;
}

}  // namespace cubesec::sim
