-- The tables of a current OpenCode database that the reader queries, with one project.
CREATE TABLE project (id TEXT PRIMARY KEY, worktree TEXT NOT NULL, vcs TEXT, time_created INTEGER);
CREATE TABLE session (id TEXT PRIMARY KEY, project_id TEXT NOT NULL, parent_id TEXT, slug TEXT,
    title TEXT NOT NULL, directory TEXT NOT NULL, path TEXT, version TEXT,
    time_created INTEGER NOT NULL, time_updated INTEGER NOT NULL, time_archived INTEGER,
    model TEXT, tokens_input INTEGER, tokens_output INTEGER, tokens_cache_read INTEGER, tokens_cache_write INTEGER);
INSERT INTO project VALUES ('prj_1', '/home/dev/src/api-server', 'git', 1764000000000);
-- For the tests, on this connection only: INSERT INTO new_session VALUES (id, update time in ms) adds a
-- session of the project's folder, created a minute before its update, with a secret in its title.
CREATE TEMP VIEW new_session (id, updated) AS SELECT NULL, NULL;
CREATE TEMP TRIGGER add_session INSTEAD OF INSERT ON new_session BEGIN
    INSERT INTO session (id, project_id, title, directory, time_created, time_updated, model, tokens_input,
        tokens_output, tokens_cache_read, tokens_cache_write)
    VALUES (NEW.id, 'prj_1', 'Fix login, password=hunter2hunter2', '/home/dev/src/api-server/', NEW.updated - 60000,
        NEW.updated, '{"id":"claude-sonnet-4-5","providerID":"anthropic"}', 1200, 340, 45000, 800);
END;
