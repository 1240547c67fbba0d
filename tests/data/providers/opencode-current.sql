-- The tables of a current OpenCode database that the reader queries, with one project.
CREATE TABLE project (id TEXT PRIMARY KEY, worktree TEXT NOT NULL, vcs TEXT, time_created INTEGER);
CREATE TABLE session (id TEXT PRIMARY KEY, project_id TEXT NOT NULL, parent_id TEXT, slug TEXT,
    title TEXT NOT NULL, directory TEXT NOT NULL, path TEXT, version TEXT,
    time_created INTEGER NOT NULL, time_updated INTEGER NOT NULL, time_archived INTEGER,
    model TEXT, tokens_input INTEGER, tokens_output INTEGER, tokens_cache_read INTEGER, tokens_cache_write INTEGER);
INSERT INTO project VALUES ('prj_1', '/home/dev/src/api-server', 'git', 1764000000000);
