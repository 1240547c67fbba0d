PRAGMA journal_mode=WAL;
CREATE TABLE project (id TEXT PRIMARY KEY, worktree TEXT NOT NULL);
CREATE TABLE session (id TEXT PRIMARY KEY, project_id TEXT, parent_id TEXT, title TEXT NOT NULL,
    directory TEXT NOT NULL, path TEXT, time_created INTEGER, time_updated INTEGER, time_archived INTEGER,
    model TEXT, tokens_input INTEGER, tokens_output INTEGER, tokens_cache_read INTEGER, tokens_cache_write INTEGER);
CREATE TABLE credential (id TEXT, secret TEXT);
INSERT INTO project VALUES ('prj_1', '/home/dev/src/webapp');
INSERT INTO session VALUES ('ses_01', 'prj_1', NULL, 'Refactor the api_key=abcdefgh12345678 loader',
    '/home/dev/src/webapp', NULL, 1763600000000, 1763600060000, NULL,
    '{"id":"claude-sonnet-4-5","providerID":"anthropic"}', 1000, 200, 0, 0);
