# What the throw-away Dovecot servers of the tests share in their configuration (sourced):
# dovecot_base DIR prints the server's own folders under DIR (run, state, its log) and the
# identities it runs as, from the caller's internal_user, internal_group, login_user, uid and gid;
# dovecot_users_and_services USERS_FILE IMAP_PORT IMAPS_PORT prints the passwd-file user
# database and the services, listening on 127.0.0.1 only (port 0: that listener is off).
dovecot_base() {
    cat <<CONF
base_dir = $1/run
state_dir = $1/state
log_path = $1/dovecot.log
protocols = imap
listen = 127.0.0.1
default_internal_user = $internal_user
default_internal_group = $internal_group
default_login_user = $login_user
first_valid_uid = $uid
first_valid_gid = $gid
CONF
}

dovecot_users_and_services() {
    cat <<CONF
passdb {
  driver = passwd-file
  args = $1
}
userdb {
  driver = passwd-file
  args = $1
}
service imap-login {
  inet_listener imap {
    address = 127.0.0.1
    port = $2
  }
  inet_listener imaps {
    address = 127.0.0.1
    port = $3
  }
}
# The user database lies in the test's private directory, which only the user may enter.
service auth {
  user = $(id -un)
}
service auth-worker {
  user = $(id -un)
}
service stats {
  unix_listener stats-reader {
    mode = 0600
  }
  unix_listener stats-writer {
    mode = 0600
  }
}
CONF
}
