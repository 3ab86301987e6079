/*
 * Example store tables, for the demo and the tests only: never run this on
 * a store's database. Together their columns cover every column type the
 * agent distinguishes when it applies received values.
 *
 * Run it after sql/replicacao.sql, as SYSDBA:
 *
 *     isql-fb -ch ISO8859_1 -i exemplos.sql localhost/3050:/dados/DEMO.FDB
 *
 *   PRODUTOS, PRECOS, VENDAS, ITENSVENDA   replicated, with the logging
 *                                           triggers and grants that
 *                                           "ondarisd --instalar-gatilhos"
 *                                           makes (a test checks that they
 *                                           are the same text)
 *   MOVIMENTOCAIXA                          not replicated: it has no key
 *
 * It stops at the first error and, before creating anything, refuses a
 * database that lacks the replication objects or already has a table of
 * these names.
 */

SET SQL DIALECT 3;
SET BAIL ON;

SET TERM ^ ;
SET LIST ON^
EXECUTE BLOCK RETURNS (RECUSA VARCHAR(500)) AS
    DECLARE VARIABLE NADA INTEGER;
BEGIN
    IF (NOT EXISTS (SELECT 1 FROM RDB$PROCEDURES WHERE RDB$PROCEDURE_NAME = 'PROC_VERSAO_REPLICACAO')) THEN
    BEGIN
        RECUSA = 'Os objetos da replicacao nao estao neste banco: rode sql/replicacao.sql antes.';
        SUSPEND;
    END
    FOR SELECT 'A tabela ' || TRIM(RDB$RELATION_NAME) || ' ja existe neste banco: este script e so para ' ||
               'a demonstracao e os testes, nunca para o banco de uma loja.'
        FROM RDB$RELATIONS
        WHERE RDB$RELATION_NAME IN ('PRODUTOS', 'PRECOS', 'VENDAS', 'ITENSVENDA', 'MOVIMENTOCAIXA')
        ORDER BY RDB$RELATION_NAME
        INTO :RECUSA
    DO
        SUSPEND;
    IF (RECUSA IS NOT NULL) THEN
        NADA = RDB$SET_CONTEXT('USER_SESSION', 'RPL_RECUSADA', 1);
END^
SET LIST OFF^

EXECUTE BLOCK AS
    DECLARE VARIABLE NADA INTEGER;
BEGIN
    IF (RDB$GET_CONTEXT('USER_SESSION', 'RPL_RECUSADA') IS NOT NULL) THEN
        NADA = CAST('Instalacao recusada: nada foi criado' AS INTEGER);
END^
SET TERM ; ^

/* Products: a one-column integer key. */
CREATE TABLE PRODUTOS (
    CODIGO            INTEGER NOT NULL,
    DESCRICAO         VARCHAR(60) NOT NULL,
    UNIDADE           CHAR(3) DEFAULT 'UN',
    ESTOQUEMINIMO     SMALLINT,
    PESOLIQUIDO       NUMERIC(9,3),        /* 32-bit storage, scale 3 */
    FATORCONVERSAO    NUMERIC(9,6),        /* 32-bit storage, scale 6 */
    PRECOREFERENCIA   DOUBLE PRECISION,
    ATIVO             BOOLEAN DEFAULT TRUE,
    CADASTRO          DATE,
    ULTIMAALTERACAO   TIMESTAMP,
    OBSERVACOES       BLOB SUB_TYPE TEXT,
    FOTO              BLOB SUB_TYPE BINARY,
    DESCRICAOETIQUETA CHAR(20) CHARACTER SET UTF8,
    DESCRICAOCOMPLETA COMPUTED BY (DESCRICAO || ' (' || TRIM(UNIDADE) || ')'),
    CONSTRAINT PK_PRODUTOS PRIMARY KEY (CODIGO)
);

/* Prices per store. The key is declared (CODIGOPRODUTO, CODIGOLOJA) while
   CODIGOLOJA stands first in the table: the log follows column order, so
   ATUALVALORCHAVE1 holds CODIGOLOJA. */
CREATE TABLE PRECOS (
    CODIGOLOJA        INTEGER NOT NULL,
    CODIGOPRODUTO     INTEGER NOT NULL,
    PRECOVENDA        NUMERIC(15,4),       /* 64-bit storage, scale 4 */
    PRECOCUSTO        NUMERIC(18,2),       /* 64-bit, 16 integer digits */
    MARGEM            NUMERIC(4,2),        /* 16-bit storage, scale 2 */
    COMISSAO          DECIMAL(18,6),       /* 64-bit storage, scale 6 */
    VIGENCIA          DATE,
    CONSTRAINT PK_PRECOS PRIMARY KEY (CODIGOPRODUTO, CODIGOLOJA)
);

/* Sales: a BIGINT key, times and raw-byte text. */
CREATE TABLE VENDAS (
    NUMERO            BIGINT NOT NULL,
    CODIGOLOJA        INTEGER NOT NULL,
    DATAVENDA         DATE NOT NULL,
    HORAVENDA         TIME,
    TOTAL             NUMERIC(15,2),       /* 64-bit storage, scale 2 */
    CPFCLIENTE        VARCHAR(14),
    ASSINATURA        CHAR(16) CHARACTER SET OCTETS,
    CHAVEACESSO       VARCHAR(44) CHARACTER SET OCTETS,
    CONSTRAINT PK_VENDAS PRIMARY KEY (NUMERO)
);

/* Items of a sale: a two-column key in column order. */
CREATE TABLE ITENSVENDA (
    NUMEROVENDA       BIGINT NOT NULL,
    ITEM              SMALLINT NOT NULL,
    CODIGOPRODUTO     INTEGER NOT NULL,
    QUANTIDADE        DOUBLE PRECISION,
    DESCONTO          FLOAT,
    PRECOUNITARIO     NUMERIC(15,4),
    VALORTOTAL        COMPUTED BY (CAST(QUANTIDADE * PRECOUNITARIO AS NUMERIC(15,2))),
    CONSTRAINT PK_ITENSVENDA PRIMARY KEY (NUMEROVENDA, ITEM)
);

/* Cash movements: no primary key. A change of such a row cannot be found
   again by the agent, so the table is not logged. */
CREATE TABLE MOVIMENTOCAIXA (
    DATAHORA          TIMESTAMP NOT NULL,
    HISTORICO         VARCHAR(60),
    VALOR             NUMERIC(15,2)
);

COMMIT;

/* ------------------------------------------------------------------------
 * Logging triggers and grants, as "ondarisd --instalar-gatilhos
 * --somente-imprimir PRODUTOS PRECOS VENDAS ITENSVENDA" prints them. An
 * update that changes the key is logged as a delete of the old key (with
 * the new first key value in NOVOVALORCHAVE1) followed by an update of the
 * new key: the agent finds the row's current content by its new key, and a
 * receiving store, which matches rows by key, removes the row under its old
 * key instead of keeping it beside the moved one. Both rows carry the same
 * transaction, so they are applied together.
 * ---------------------------------------------------------------------- */
/* PRODUTOS: chave CODIGO */
SET TERM ^ ;
CREATE OR ALTER TRIGGER PRODUTOS_RPL FOR PRODUTOS
ACTIVE AFTER INSERT OR UPDATE OR DELETE POSITION 100
AS
BEGIN
    IF (INSERTING) THEN
        EXECUTE PROCEDURE PROC_REGISTRA_ALTERACAO('PRODUTOS', 'U', NEW.CODIGO, NULL, NULL);
    ELSE IF (DELETING) THEN
        EXECUTE PROCEDURE PROC_REGISTRA_ALTERACAO('PRODUTOS', 'D', OLD.CODIGO, NULL, NULL);
    ELSE
    BEGIN
        IF (NEW.CODIGO IS DISTINCT FROM OLD.CODIGO) THEN
            EXECUTE PROCEDURE PROC_REGISTRA_ALTERACAO('PRODUTOS', 'D', OLD.CODIGO, NULL, NEW.CODIGO);
        EXECUTE PROCEDURE PROC_REGISTRA_ALTERACAO('PRODUTOS', 'U', NEW.CODIGO, NULL, NULL);
    END
END^
SET TERM ; ^
GRANT EXECUTE ON PROCEDURE PROC_REGISTRA_ALTERACAO TO TRIGGER PRODUTOS_RPL;
GRANT SELECT, INSERT, UPDATE, DELETE ON PRODUTOS TO USER ONDARIS;

/* PRECOS: chave CODIGOLOJA, CODIGOPRODUTO */
SET TERM ^ ;
CREATE OR ALTER TRIGGER PRECOS_RPL FOR PRECOS
ACTIVE AFTER INSERT OR UPDATE OR DELETE POSITION 100
AS
BEGIN
    IF (INSERTING) THEN
        EXECUTE PROCEDURE PROC_REGISTRA_ALTERACAO('PRECOS', 'U', NEW.CODIGOLOJA, NEW.CODIGOPRODUTO, NULL);
    ELSE IF (DELETING) THEN
        EXECUTE PROCEDURE PROC_REGISTRA_ALTERACAO('PRECOS', 'D', OLD.CODIGOLOJA, OLD.CODIGOPRODUTO, NULL);
    ELSE
    BEGIN
        IF (NEW.CODIGOLOJA IS DISTINCT FROM OLD.CODIGOLOJA OR NEW.CODIGOPRODUTO IS DISTINCT FROM OLD.CODIGOPRODUTO) THEN
            EXECUTE PROCEDURE PROC_REGISTRA_ALTERACAO('PRECOS', 'D', OLD.CODIGOLOJA, OLD.CODIGOPRODUTO, NEW.CODIGOLOJA);
        EXECUTE PROCEDURE PROC_REGISTRA_ALTERACAO('PRECOS', 'U', NEW.CODIGOLOJA, NEW.CODIGOPRODUTO, NULL);
    END
END^
SET TERM ; ^
GRANT EXECUTE ON PROCEDURE PROC_REGISTRA_ALTERACAO TO TRIGGER PRECOS_RPL;
GRANT SELECT, INSERT, UPDATE, DELETE ON PRECOS TO USER ONDARIS;

/* VENDAS: chave NUMERO */
SET TERM ^ ;
CREATE OR ALTER TRIGGER VENDAS_RPL FOR VENDAS
ACTIVE AFTER INSERT OR UPDATE OR DELETE POSITION 100
AS
BEGIN
    IF (INSERTING) THEN
        EXECUTE PROCEDURE PROC_REGISTRA_ALTERACAO('VENDAS', 'U', NEW.NUMERO, NULL, NULL);
    ELSE IF (DELETING) THEN
        EXECUTE PROCEDURE PROC_REGISTRA_ALTERACAO('VENDAS', 'D', OLD.NUMERO, NULL, NULL);
    ELSE
    BEGIN
        IF (NEW.NUMERO IS DISTINCT FROM OLD.NUMERO) THEN
            EXECUTE PROCEDURE PROC_REGISTRA_ALTERACAO('VENDAS', 'D', OLD.NUMERO, NULL, NEW.NUMERO);
        EXECUTE PROCEDURE PROC_REGISTRA_ALTERACAO('VENDAS', 'U', NEW.NUMERO, NULL, NULL);
    END
END^
SET TERM ; ^
GRANT EXECUTE ON PROCEDURE PROC_REGISTRA_ALTERACAO TO TRIGGER VENDAS_RPL;
GRANT SELECT, INSERT, UPDATE, DELETE ON VENDAS TO USER ONDARIS;

/* ITENSVENDA: chave NUMEROVENDA, ITEM */
SET TERM ^ ;
CREATE OR ALTER TRIGGER ITENSVENDA_RPL FOR ITENSVENDA
ACTIVE AFTER INSERT OR UPDATE OR DELETE POSITION 100
AS
BEGIN
    IF (INSERTING) THEN
        EXECUTE PROCEDURE PROC_REGISTRA_ALTERACAO('ITENSVENDA', 'U', NEW.NUMEROVENDA, NEW.ITEM, NULL);
    ELSE IF (DELETING) THEN
        EXECUTE PROCEDURE PROC_REGISTRA_ALTERACAO('ITENSVENDA', 'D', OLD.NUMEROVENDA, OLD.ITEM, NULL);
    ELSE
    BEGIN
        IF (NEW.NUMEROVENDA IS DISTINCT FROM OLD.NUMEROVENDA OR NEW.ITEM IS DISTINCT FROM OLD.ITEM) THEN
            EXECUTE PROCEDURE PROC_REGISTRA_ALTERACAO('ITENSVENDA', 'D', OLD.NUMEROVENDA, OLD.ITEM, NEW.NUMEROVENDA);
        EXECUTE PROCEDURE PROC_REGISTRA_ALTERACAO('ITENSVENDA', 'U', NEW.NUMEROVENDA, NEW.ITEM, NULL);
    END
END^
SET TERM ; ^
GRANT EXECUTE ON PROCEDURE PROC_REGISTRA_ALTERACAO TO TRIGGER ITENSVENDA_RPL;
GRANT SELECT, INSERT, UPDATE, DELETE ON ITENSVENDA TO USER ONDARIS;

COMMIT;
